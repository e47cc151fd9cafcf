#include "LogLineModel.h"

int LogLineModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogLineModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= lines_.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return lines_.at(index.row());
    return {};
}

void LogLineModel::append(const QString& text) {
    const int row = static_cast<int>(lines_.size());
    beginInsertRows(QModelIndex(), row, row);
    lines_.append(text);
    endInsertRows();
}
