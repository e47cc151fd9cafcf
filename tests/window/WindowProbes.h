#pragma once
// What the window tests look for in the window as the operator would: its shown boxes and pages,
// and the menus its right clicks open.
#include "LauncherHarness.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTabBar>

// The shown one of the window's children of that kind, if one is.
template <typename T> T* Shown(QWidget& w) {
    for (T* child : w.findChildren<T*>())
        if (child->isVisible())
            return child;
    return nullptr;
}

// The menu a right click at that point of the widget opens, if one opens.
inline QMenu* ContextMenu(QWidget* widget, QPoint at = {5, 5}) {
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &click);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

inline QMenu* ServerTabMenu(frmMain& w, int server) {
    return ContextMenu(w.conTab->tabBar(), w.conTab->tabBar()->tabRect(server).center());
}

// A menu's items as the operator reads them: "-" for a separator, " (off)" after a disabled one
// (unless only the captions are asked for).
inline QStringList Items(const QMenu* menu, bool states = true) {
    QStringList items;
    for (QAction* action : menu ? menu->actions() : QList<QAction*>())
        items << (action->isSeparator() ? QStringLiteral("-")
                                        : action->text().remove(u'&') +
                                              (states && !action->isEnabled() ? " (off)" : ""));
    return items;
}

// The enabled item of the menu with that text, or with that text once its ampersands and the
// shortcut shown after a tab are left out.
inline QAction* Item(const QMenu* menu, const QString& text) {
    for (QAction* action : menu ? menu->actions() : QList<QAction*>())
        if (action->isEnabled() &&
            (action->text() == text || action->text().remove(u'&').section(u'\t', 0, 0) == text))
            return action;
    return nullptr;
}

// Chooses that item (as Item finds it) from the menu, which then closes; what the item queued
// for after the menu has run by the return. False when the menu has no such item.
inline bool Choose(QMenu* menu, const QString& text) {
    QAction* item = Item(menu, text);
    if (item)
        item->trigger();
    delete menu;
    QApplication::sendPostedEvents();
    return item != nullptr;
}
