#include "CoveredControls.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <utility>

CoveredControls::CoveredControls(QWidget* focusHome, std::vector<QWidget*> panes, QObject* parent)
    : QObject(parent), focusHome_(focusHome), panes_(std::move(panes)) {
    for (QWidget* pane : panes_)
        pane->installEventFilter(this);
    update();
}

bool CoveredControls::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ZOrderChange || event->type() == QEvent::Show ||
        event->type() == QEvent::Hide)
        update();
    return QObject::eventFilter(watched, event);
}

// Whether a pane stacked in front of pane hides the whole of control.
bool CoveredControls::isCovered(const QWidget* control, const QWidget* pane) const {
    const QWidget* parent = pane->parentWidget();
    const QRect area(control->mapTo(parent, QPoint(0, 0)), control->size());
    const qsizetype depth = parent->children().indexOf(pane);
    for (const QWidget* other : panes_) {
        if (other != pane && other->isVisibleTo(parent) &&
            parent->children().indexOf(other) > depth && other->geometry().contains(area))
            return true;
    }
    return false;
}

void CoveredControls::update() {
    for (QWidget* pane : panes_) {
        QList<QWidget*> controls = pane->findChildren<QWidget*>();
        controls.prepend(pane);
        for (QWidget* control : controls) {
            const auto taken = takenPolicies_.find(control);
            if (isCovered(control, pane)) {
                if (taken == takenPolicies_.end() && control->focusPolicy() != Qt::NoFocus) {
                    takenPolicies_.emplace(control, control->focusPolicy());
                    control->setFocusPolicy(Qt::NoFocus);
                }
            } else if (taken != takenPolicies_.end()) {
                control->setFocusPolicy(static_cast<Qt::FocusPolicy>(taken->second));
                takenPolicies_.erase(taken);
            }
        }
    }
    QWidget* focus = QApplication::focusWidget();
    for (QWidget* w = focus; w != nullptr; w = w->parentWidget()) {
        if (takenPolicies_.contains(w)) {
            focusHome_->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
}
