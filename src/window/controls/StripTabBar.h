#pragma once

#include <QTabBar>

// The tab bar of a TabStrip. A class of its own so that assistive technology gets an interface
// that tells which tab is selected (see TabBarAccessible.h), and so that a tab's icon, the mark of
// a server's state, takes no width from the captions: each tab is as wide as its caption alone,
// and the mark is drawn small in the tab's own left margin, the caption where it would be without
// it. Four captions fit across the designed window whether the marks show or not.
class StripTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit StripTabBar(QWidget* parent = nullptr);

    // Where a tab's mark is drawn, inside its rectangle and left of its caption.
    QRect markRect(int index) const;

protected:
    QSize tabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;
};
