#pragma once

#include <QStringList>
#include <QWidget>

class QTabBar;

// A strip of tabs over an empty client area, numbered from 1. It holds no pages: what a selected
// tab shows is up to whoever handles Click. Click is raised whenever the selection changes,
// whether the operator or code changed it.
class TabStrip : public QWidget {
    Q_OBJECT
public:
    explicit TabStrip(const QStringList& captions, QWidget* parent = nullptr);

    int SelectedIndex() const; // 1-based
    void Select(int index);    // 1-based; an index out of range does nothing
    int Count() const;
    QTabBar* tabBar() const { return bar_; }
    // The framed area below the tabs, in the strip's own coordinates.
    QRect clientRect() const;

signals:
    void Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTabBar* bar_;
};
