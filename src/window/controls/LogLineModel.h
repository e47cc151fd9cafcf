#pragma once

#include <QAbstractListModel>
#include <QStringList>

// A list of lines owned elsewhere, which grows at its end and loses lines at its front, as a list
// model: one row per line, its text as the row's display and accessible text. The owner says when
// the list is about to grow by a line and when it has, and the same of its first line's going.
class LogLineModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit LogLineModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // From now on the rows are these lines, which must outlive the model.
    void showLines(const QStringList& lines);
    void lineAboutToBeAdded();
    void lineAdded();
    void oldestLineAboutToBeDropped();
    void oldestLineDropped();
    const QString& line(int row) const { return lines_->at(row); }

private:
    const QStringList* lines_;
};
