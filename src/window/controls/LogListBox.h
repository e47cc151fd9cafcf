#pragma once

#include <QAbstractScrollArea>
#include <QStringList>

// The launcher log's list box: one line of text per row, every row of one height, at most one
// selected row, and the vertical scroll bar moving by whole rows. Adding a line costs the same
// however many lines the list already holds, and each line costs only its text: only the rows in
// view are ever painted, and no row is laid out. (A QListWidget lays all its rows out again for
// each line added, which at 100,000 lines made a line cost some milliseconds.)
class LogListBox : public QAbstractScrollArea {
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

    // Adds the text as the new last row.
    void addItem(const QString& text);
    int count() const { return static_cast<int>(lines_.size()); }
    // The row, which must exist.
    Row item(int row) const { return Row(*this, row); }
    // The selected row; -1 when none is.
    int currentRow() const { return current_; }
    // Selects the row and scrolls it into view; a row that does not exist selects nothing.
    void setCurrentRow(int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    int rowHeight() const;
    int fullyVisibleRows() const;
    void updateScrollBars();
    void scrollToRow(int row);

    QStringList lines_;
    int current_ = -1;
    int widest_ = 0; // the widest line, in pixels of the current font
};
