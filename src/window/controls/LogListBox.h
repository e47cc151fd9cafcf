#pragma once

#include <QListView>

class LogLineModel;

// The launcher log's list box: one line of text per row, every row of one height, at most one
// selected row. A list view over the log's line model, so that each line is an item that
// assistive technology can read.
class LogListBox : public QListView {
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
    int count() const;
    // The row, which must exist.
    Row item(int row) const { return Row(*this, row); }
    // The selected row; -1 when none is.
    int currentRow() const;
    // Selects the row and scrolls it into view; a row that does not exist selects nothing.
    void setCurrentRow(int row);

protected:
    void changeEvent(QEvent* event) override;

private:
    // Tells the model the row size for a widest line of that many pixels.
    void setWidest(int pixels);

    LogLineModel* lines_;
    int widest_ = 0; // the widest line, in pixels of the current font
};
