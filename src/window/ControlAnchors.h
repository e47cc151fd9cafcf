#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <map>
#include <vector>

class QWidget;

// Keeps controls in their designed places against the edges of their container as it changes
// size. A control follows each edge it is anchored to by the amount that edge moved: anchored to
// left and right it grows with the container's width, to the right alone it moves along with the
// right edge, to the left alone (or to neither) it stays. The same goes for top and bottom. At the
// container's designed size every control is exactly where it was designed.
class ControlAnchors : public QObject {
    Q_OBJECT
public:
    explicit ControlAnchors(QObject* parent);

    // Takes the control's geometry now, and its container's size now, as the designed ones.
    void anchor(QWidget* control, Qt::Edges edges);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Anchored {
        QWidget* control;
        Qt::Edges edges;
        QRect designed;
    };
    struct Container {
        QSize designed;
        std::vector<Anchored> controls;
    };
    void place(QWidget* container, const Container& layout) const;

    std::map<QWidget*, Container> containers_;
};
