#include "LogListBox.h"

#include "LogLineModel.h"

#include <QEvent>
#include <QItemSelectionModel>
#include <QStyle>
#include <algorithm>

QString LogListBox::Row::text() const {
    return list_.lines_->line(row_);
}

bool LogListBox::Row::isSelected() const {
    return list_.currentRow() == row_;
}

LogListBox::LogListBox(QWidget* parent) : QListView(parent), lines_(new LogLineModel(this)) {
    // Rows of one height: the view never measures the text of earlier lines again.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setModel(lines_);
}

void LogListBox::addItem(const QString& text) {
    // Measured once, as it comes: the widest line sets the width that can be scrolled to.
    const int width = fontMetrics().horizontalAdvance(text);
    if (width > widest_ || count() == 0)
        setWidest(std::max(width, widest_));
    lines_->append(text);
}

void LogListBox::setWidest(int pixels) {
    widest_ = pixels;
    const int margin = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 4;
    lines_->setRowSize(QSize(widest_ + margin, fontMetrics().height() + 2));
}

void LogListBox::changeEvent(QEvent* event) {
    QListView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        // The one time a line's width is measured again: every line, for the new font.
        int widest = 0;
        for (int row = 0; row < count(); ++row)
            widest = std::max(widest, fontMetrics().horizontalAdvance(lines_->line(row)));
        setWidest(widest);
    }
}

int LogListBox::count() const {
    return lines_->rowCount();
}

int LogListBox::currentRow() const {
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void LogListBox::setCurrentRow(int row) {
    if (row < 0 || row >= count())
        return;
    const QModelIndex index = lines_->index(row);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}
