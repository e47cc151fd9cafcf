#include "LogListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace {

constexpr int kTextMargin = 2; // pixels between the row's left edge and its text
constexpr int kRowPadding = 1; // pixels above and below the text of a row

} // namespace

QString LogListBox::Row::text() const {
    return list_.lines_.at(row_);
}

bool LogListBox::Row::isSelected() const {
    return list_.current_ == row_;
}

LogListBox::LogListBox(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    updateScrollBars();
}

void LogListBox::addItem(const QString& text) {
    lines_.append(text);
    widest_ = std::max(widest_, fontMetrics().horizontalAdvance(text));
    updateScrollBars();
    const int top = verticalScrollBar()->value();
    if (count() - 1 < top + fullyVisibleRows() + 1)
        viewport()->update();
}

void LogListBox::setCurrentRow(int row) {
    if (row < 0 || row >= count())
        return;
    current_ = row;
    scrollToRow(row);
    viewport()->update();
}

int LogListBox::rowHeight() const {
    return fontMetrics().height() + 2 * kRowPadding;
}

int LogListBox::fullyVisibleRows() const {
    return std::max(1, viewport()->height() / rowHeight());
}

void LogListBox::updateScrollBars() {
    const int rows = fullyVisibleRows();
    verticalScrollBar()->setPageStep(rows);
    verticalScrollBar()->setRange(0, std::max(0, count() - rows));
    const int width = viewport()->width();
    horizontalScrollBar()->setPageStep(width);
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
    horizontalScrollBar()->setRange(0, std::max(0, widest_ + 2 * kTextMargin - width));
}

void LogListBox::scrollToRow(int row) {
    QScrollBar* bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + fullyVisibleRows())
        bar->setValue(row - fullyVisibleRows() + 1);
}

void LogListBox::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int height = rowHeight();
    const int top = verticalScrollBar()->value();
    const int left = -horizontalScrollBar()->value();
    const int width = viewport()->width();
    const int last = std::min(count() - 1, top + event->rect().bottom() / height);
    for (int row = top + event->rect().top() / height; row <= last; ++row) {
        const QRect rowRect(0, (row - top) * height, width, height);
        const bool selected = row == current_;
        if (selected)
            painter.fillRect(rowRect, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rowRect.adjusted(left + kTextMargin, 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, lines_.at(row));
    }
}

void LogListBox::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void LogListBox::keyPressEvent(QKeyEvent* event) {
    const int page = fullyVisibleRows();
    int row = current_;
    switch (event->key()) {
    case Qt::Key_Up:
        row = current_ - 1;
        break;
    case Qt::Key_Down:
        row = current_ + 1;
        break;
    case Qt::Key_PageUp:
        row = current_ - page;
        break;
    case Qt::Key_PageDown:
        row = current_ + page;
        break;
    case Qt::Key_Home:
        row = 0;
        break;
    case Qt::Key_End:
        row = count() - 1;
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    setCurrentRow(std::clamp(row, 0, count() - 1));
    event->accept();
}

void LogListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const int row =
            verticalScrollBar()->value() + static_cast<int>(event->position().y()) / rowHeight();
        setCurrentRow(row);
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void LogListBox::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        // The one time a line's width is measured again: every line, for the new font.
        widest_ = 0;
        for (const QString& line : lines_)
            widest_ = std::max(widest_, fontMetrics().horizontalAdvance(line));
        updateScrollBars();
    }
}

void LogListBox::scrollContentsBy(int, int) {
    viewport()->update();
}
