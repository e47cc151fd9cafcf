#include "MessagePane.h"

#include <QTextDocument>

MessagePane::MessagePane(QWidget* parent) : QPlainTextEdit(parent) {
    setUndoRedoEnabled(false); // every trim and append would stay in it for good
}

void MessagePane::setBottomLine(QWidget* widget) {
    bottomLine_ = widget;
    widget->setParent(this);
    setViewportMargins(0, 0, 0, widget->sizeHint().height());
    placeBottomLine();
    widget->show();
}

bool MessagePane::hasDarkBackground() const {
    return palette().color(QPalette::Base).lightness() < 128;
}

void MessagePane::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    placeBottomLine();
}

void MessagePane::placeBottomLine() {
    if (!bottomLine_)
        return;
    const QRect text = viewport()->geometry();
    bottomLine_->setGeometry(text.left(), text.bottom() + 1, text.width(),
                             bottomLine_->sizeHint().height());
}
