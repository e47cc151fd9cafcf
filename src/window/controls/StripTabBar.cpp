#include "StripTabBar.h"

#include "TabBarAccessible.h"

#include <QStyleOptionTab>
#include <QStylePainter>
#include <algorithm>

namespace {

// The icon's share of a tab's width in QTabBar's own hint: its width and the gap after it.
constexpr int kIconGap = 4;

} // namespace

StripTabBar::StripTabBar(QWidget* parent) : QTabBar(parent) {
    TabBarAccessible::Install();
    connect(this, &QTabBar::currentChanged, this,
            [this](int) { TabBarAccessible::NotifySelectionChanged(this); });
}

QSize StripTabBar::tabSizeHint(int index) const {
    QSize hint = QTabBar::tabSizeHint(index);
    if (!tabIcon(index).isNull())
        hint.rwidth() -= iconSize().width() + kIconGap;
    return hint;
}

QRect StripTabBar::markRect(int index) const {
    QStyleOptionTab option;
    initStyleOption(&option, index);
    option.icon = QIcon();
    // The caption as drawn without a mark; the mark fills the margin before it, a pixel clear
    // of the tab's edge and of the caption, centred on the caption's height.
    const QRect caption = style()->subElementRect(QStyle::SE_TabBarTabText, &option, this);
    const int margin = caption.left() - option.rect.left();
    const int side = std::clamp(margin - 2, 4, iconSize().height());
    return QRect(caption.left() - side - 1, caption.center().y() - side / 2, side, side);
}

void StripTabBar::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    const auto drawTab = [&](int index) {
        QStyleOptionTab option;
        initStyleOption(&option, index);
        const QIcon mark = option.icon;
        option.icon = QIcon(); // the caption centred in the whole tab, as without a mark
        painter.drawControl(QStyle::CE_TabBarTab, option);
        if (!mark.isNull()) {
            const QRect at = markRect(index);
            mark.paint(&painter, at, Qt::AlignCenter,
                       isTabEnabled(index) ? QIcon::Normal : QIcon::Disabled);
        }
    };
    // The selected tab last: it overlaps its neighbours.
    for (int index = 0; index < count(); ++index)
        if (index != currentIndex())
            drawTab(index);
    if (currentIndex() >= 0)
        drawTab(currentIndex());
}
