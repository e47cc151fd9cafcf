#include "TabStrip.h"

#include <QPaintEvent>
#include <QResizeEvent>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

TabStrip::TabStrip(const QStringList& captions, QWidget* parent)
    : QWidget(parent), bar_(new QTabBar(this)) {
    bar_->setObjectName(QStringLiteral("tabBar"));
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    bar_->setElideMode(Qt::ElideNone);
    for (const QString& caption : captions)
        bar_->addTab(caption);
    // Connected after the tabs exist: adding the first tab selects it, which is no click.
    connect(bar_, &QTabBar::currentChanged, this, [this](int) { emit Click(); });
    setFocusProxy(bar_);
    // Opaque, so that a pane stacked behind the strip does not show through its client area.
    setAutoFillBackground(true);
}

int TabStrip::SelectedIndex() const {
    return bar_->currentIndex() + 1;
}

void TabStrip::Select(int index) {
    if (index < 1 || index > bar_->count())
        return;
    bar_->setCurrentIndex(index - 1);
}

int TabStrip::Count() const {
    return bar_->count();
}

QRect TabStrip::clientRect() const {
    const int top = bar_->sizeHint().height();
    return QRect(0, top, width(), height() - top);
}

void TabStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
}

void TabStrip::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = clientRect();
    frame.shape = bar_->shape();
    frame.tabBarSize = bar_->sizeHint();
    frame.tabBarRect = QRect(QPoint(0, 0), frame.tabBarSize);
    frame.selectedTabRect = bar_->tabRect(bar_->currentIndex());
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}
