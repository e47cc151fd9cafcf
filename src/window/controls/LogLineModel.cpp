#include "LogLineModel.h"

namespace {

const QStringList kNoLines;

} // namespace

LogLineModel::LogLineModel(QObject* parent) : QAbstractListModel(parent), lines_(&kNoLines) {}

int LogLineModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_->size());
}

QVariant LogLineModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= lines_->size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return lines_->at(index.row());
    return {};
}

void LogLineModel::showLines(const QStringList& lines) {
    beginResetModel();
    lines_ = &lines;
    endResetModel();
}

void LogLineModel::lineAboutToBeAdded() {
    const int row = static_cast<int>(lines_->size());
    beginInsertRows(QModelIndex(), row, row);
}

void LogLineModel::lineAdded() {
    endInsertRows();
}

void LogLineModel::oldestLineAboutToBeDropped() {
    beginRemoveRows(QModelIndex(), 0, 0);
}

void LogLineModel::oldestLineDropped() {
    endRemoveRows();
}
