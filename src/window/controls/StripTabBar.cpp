#include "StripTabBar.h"

#include "TabBarAccessible.h"

StripTabBar::StripTabBar(QWidget* parent) : QTabBar(parent) {
    TabBarAccessible::Install();
    connect(this, &QTabBar::currentChanged, this,
            [this](int) { TabBarAccessible::NotifySelectionChanged(this); });
}
