#include "WindowPlacement.h"

#include "WindowPlaces.h"

#include <QScreen>
#include <QStyle>
#include <QWidget>

void WindowPlacement::PlaceAtOpening(QWidget& window, WindowPlaces& places) {
    const QByteArray remembered = places.Remembered();
    if (!remembered.isEmpty() && window.restoreGeometry(remembered))
        return;
    const QScreen* screen = window.screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const int step = kNewcomerStep * (places.CountNewcomer() % 8);
    const QRect centred =
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(), available);
    QPoint at = centred.topLeft() + QPoint(step, step);
    // Never off the screen's lower right, however far the step goes.
    at.setX(std::max(available.left(), std::min(at.x(), available.right() + 1 - window.width())));
    at.setY(std::max(available.top(), std::min(at.y(), available.bottom() + 1 - window.height())));
    window.move(at);
}

void WindowPlacement::Centre(QWidget& window) {
    if (const QScreen* screen = window.screen())
        window.move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                        screen->availableGeometry())
                        .topLeft());
}
