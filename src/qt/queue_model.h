#pragma once

#include <QAbstractListModel>
#include <string>
#include <vector>

namespace doredaviro::qt {

// The queue's rows: each keeps the path's bytes exactly as dropped, and shows
// as ShownPath renders it.
class QueueModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const std::string& path(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    void insertTop(const std::vector<std::string>& rows);
    void remove(int first, int count);

private:
    std::vector<std::string> rows_;
};

}  // namespace doredaviro::qt
