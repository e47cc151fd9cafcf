#include "ControlAnchors.h"

#include <QEvent>
#include <QWidget>

ControlAnchors::ControlAnchors(QObject* parent) : QObject(parent) {}

void ControlAnchors::anchor(QWidget* control, Qt::Edges edges) {
    QWidget* container = control->parentWidget();
    auto [found, added] = containers_.try_emplace(container, Container{container->size(), {}});
    if (added)
        container->installEventFilter(this);
    found->second.controls.push_back({control, edges, control->geometry()});
}

bool ControlAnchors::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        auto* container = static_cast<QWidget*>(watched);
        const auto found = containers_.find(container);
        if (found != containers_.end())
            place(container, found->second);
    }
    return QObject::eventFilter(watched, event);
}

void ControlAnchors::place(QWidget* container, const Container& layout) const {
    const int dx = container->width() - layout.designed.width();
    const int dy = container->height() - layout.designed.height();
    for (const Anchored& a : layout.controls) {
        QRect at = a.designed;
        if (a.edges & Qt::RightEdge) {
            if (a.edges & Qt::LeftEdge)
                at.setWidth(at.width() + dx);
            else
                at.translate(dx, 0);
        }
        if (a.edges & Qt::BottomEdge) {
            if (a.edges & Qt::TopEdge)
                at.setHeight(at.height() + dy);
            else
                at.translate(0, dy);
        }
        a.control->setGeometry(at);
    }
}
