#include "TabStrip.h"

#include "StripTabBar.h"

#include <QPaintEvent>
#include <QProxyStyle>
#include <QResizeEvent>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

namespace {

// Tabs as wide as their caption and a small margin, like classic tab strips: the styles' own
// padding is wider and would not let four long captions fit across a narrow window. The margin
// before a caption holds its tab's mark, if it has one (StripTabBar).
class CompactTabStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace)
            return 18; // half of it on each side of the caption
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

} // namespace

TabStrip::TabStrip(const QStringList& captions, QWidget* parent)
    : QWidget(parent), bar_(new StripTabBar(this)) {
    bar_->setObjectName(QStringLiteral("tabBar"));
    auto* compact = new CompactTabStyle;
    compact->setParent(bar_);
    bar_->setStyle(compact);
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    bar_->setElideMode(Qt::ElideNone);
    bar_->setUsesScrollButtons(false);
    for (const QString& caption : captions)
        bar_->addTab(caption);
    // Connected after the tabs exist: adding the first tab selects it, which is no click.
    connect(bar_, &QTabBar::currentChanged, this, [this](int) { emit Click(); });
    // A click on a tab takes the focus, as keys then belong to the strip, not to a hidden pane.
    bar_->setFocusPolicy(Qt::StrongFocus);
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
