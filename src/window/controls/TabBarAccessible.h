#pragma once

#include <QAccessibleWidget>
#include <QList>

class QTabBar;

// What assistive technology reads of a strip's tab bar: a page tab list whose children are its
// tabs, by caption, with the selected one in the selected state; a tab can be pressed to select
// it. (Qt's own tab bar interface marks no tab as selected.)
class TabBarAccessible : public QAccessibleWidget {
public:
    explicit TabBarAccessible(QTabBar* bar);
    ~TabBarAccessible() override;

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QString text(QAccessible::Text t) const override;

    // Makes the strips' tab bars use this interface; installed once per program.
    static void Install();
    // Tells assistive technology that the bar's selected tab changed.
    static void NotifySelectionChanged(QTabBar* bar);

private:
    QTabBar* bar() const;
    mutable QList<QAccessible::Id> tabs_;
};
