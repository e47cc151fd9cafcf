#pragma once

#include <QTabBar>

// The tab bar of a TabStrip. A class of its own so that assistive technology gets an interface
// that tells which tab is selected (see TabBarAccessible.h).
class StripTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit StripTabBar(QWidget* parent = nullptr);
};
