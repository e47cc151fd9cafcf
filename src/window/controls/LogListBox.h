#pragma once

#include <QTableView>

class LogLineModel;

// The launcher log's list box: one line of text per row, every row of one height, at most one
// selected row. An item view over the log's own lines (never a copy of them), so that each line
// is an item that assistive technology can read. A one-column table without headers or grid rather
// than a QListView: a list view lays every row out again for each row added, the table's
// fixed-height rows cost the same at any length.
class LogListBox : public QTableView {
    Q_OBJECT
public:
    // One row, as callers read it: item(row)->text().
    class Row {
    public:
        QString text() const;
        bool isSelected() const;
        const Row* operator->() const { return this; }

    private:
        friend class LogListBox;
        Row(const LogListBox& list, int row) : list_(list), row_(row) {}
        const LogListBox& list_;
        int row_;
    };

    explicit LogListBox(QWidget* parent = nullptr);

    // Shows the lines of a list owned elsewhere, which must outlive the box.
    void showLines(const QStringList& lines);
    // Around each line added to that list: before the list grows, and once it has.
    void lineAboutToBeAdded();
    void lineAdded();
    // Around the going of that list's first line.
    void oldestLineAboutToBeDropped();
    void oldestLineDropped();
    int count() const;
    // The row, which must exist.
    Row item(int row) const { return Row(*this, row); }
    // The selected row; -1 when none is.
    int currentRow() const;
    // Selects the row and scrolls it into view; a row that does not exist selects nothing.
    void setCurrentRow(int row);

protected:
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // Home and End go to the first and last line, as in a list.
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

private:
    // Sizes the rows to the font and the column to a widest line of that many pixels.
    void setWidest(int pixels);
    void measureAll();

    LogLineModel* lines_;
    int widest_ = 0; // the widest line, in pixels of the current font
};
