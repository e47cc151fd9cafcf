#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The launcher log's lines, oldest first, as a list model: one row per line, its text as the
// row's display and accessible text. Lines are only ever appended.
class LogLineModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Adds the text as the new last line.
    void append(const QString& text);
    const QString& line(int row) const { return lines_.at(row); }

private:
    QStringList lines_;
};
