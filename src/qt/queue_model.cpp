#include "qt/queue_model.h"

namespace doredaviro::qt {

int QueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant QueueModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return displayText(rows_[static_cast<std::size_t>(index.row())]);
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

QString QueueModel::displayText(const std::string& path) {
    QString text = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    // Marks the fonts that draw the list carry (the control-picture symbols are
    // in none of Debian's usual ones).
    for (QChar& c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            c = QChar(0x21B5);  // ↵
        } else if (c == QLatin1Char('\t')) {
            c = QChar(0x2192);  // →
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            c = QChar::ReplacementCharacter;
        }
    }
    return text;
}

}  // namespace doredaviro::qt
