#include "qt/queue_model.h"

#include "core/paths.h"

namespace doredaviro::qt {

int QueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant QueueModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return QString::fromStdString(ShownPath(rows_[static_cast<std::size_t>(index.row())]));
    }
    return {};
}

void QueueModel::insertTop(const std::vector<std::string>& rows) {
    if (rows.empty()) return;
    beginInsertRows(QModelIndex(), 0, static_cast<int>(rows.size()) - 1);
    rows_.insert(rows_.begin(), rows.begin(), rows.end());
    endInsertRows();
}

void QueueModel::remove(int first, int count) {
    if (first < 0 || count < 1 || first + count > rowCount()) return;
    beginRemoveRows(QModelIndex(), first, first + count - 1);
    rows_.erase(rows_.begin() + first, rows_.begin() + first + count);
    endRemoveRows();
}

}  // namespace doredaviro::qt
