#include "LogListBox.h"

#include "LogLineModel.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QStyle>
#include <algorithm>

QString LogListBox::Row::text() const {
    return list_.lines_->line(row_);
}

bool LogListBox::Row::isSelected() const {
    return list_.currentRow() == row_;
}

LogListBox::LogListBox(QWidget* parent) : QTableView(parent), lines_(new LogLineModel(this)) {
    setModel(lines_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    // Rows of one height: no row's text is ever measured to lay the rows out.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setWidest(0);
}

void LogListBox::showLines(const QStringList& lines) {
    lines_->showLines(lines);
    measureAll();
}

void LogListBox::lineAboutToBeAdded() {
    lines_->lineAboutToBeAdded();
}

void LogListBox::lineAdded() {
    lines_->lineAdded();
    // Measured once, as it comes: the widest line sets the width that can be scrolled to.
    const int width = fontMetrics().horizontalAdvance(lines_->line(count() - 1));
    if (width > widest_)
        setWidest(width);
}

void LogListBox::oldestLineAboutToBeDropped() {
    lines_->oldestLineAboutToBeDropped();
}

// The widest line may be the one that went: the width stays until the next font change.
void LogListBox::oldestLineDropped() {
    lines_->oldestLineDropped();
}

void LogListBox::measureAll() {
    int widest = 0;
    for (int row = 0; row < count(); ++row)
        widest = std::max(widest, fontMetrics().horizontalAdvance(lines_->line(row)));
    setWidest(widest);
}

void LogListBox::setWidest(int pixels) {
    widest_ = pixels;
    const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 2);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    setColumnWidth(0, std::max(widest_ + margin, viewport()->width()));
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
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

QModelIndex LogListBox::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    if (cursorAction == MoveHome || cursorAction == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(cursorAction, modifiers);
}

void LogListBox::mousePressEvent(QMouseEvent* event) {
    // A click below the last line leaves the selection as it is.
    if (!indexAt(event->position().toPoint()).isValid()) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void LogListBox::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    // The one time a line's width is measured again: every line, for the new font.
    if (event->type() == QEvent::FontChange)
        measureAll();
}
