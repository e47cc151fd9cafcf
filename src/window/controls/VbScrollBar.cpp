#include "VbScrollBar.h"

#include <QStyleOptionFocusRect>
#include <QStylePainter>

VbScrollBar::VbScrollBar(int minimum, int maximum, int value, int step, QWidget* parent)
    : QScrollBar(Qt::Vertical, parent) {
    setRange(minimum, maximum);
    setSingleStep(step);
    setPageStep(step);
    setValue(value);
    connect(this, &QScrollBar::valueChanged, this, &VbScrollBar::Change);
}

bool VbScrollBar::SetValue(int value) {
    if (value < minimum() || value > maximum())
        return false;
    setValue(value);
    return true;
}

void VbScrollBar::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
}
