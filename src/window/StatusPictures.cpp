#include "StatusPictures.h"

#include <QImageReader>
#include <QPainter>
#include <QPixmap>

QIcon loadIconFile(const QString& path) {
    // QIcon reads lazily and says nothing about a broken file: read one picture first.
    QImageReader reader(path);
    if (reader.read().isNull())
        return QIcon();
    return QIcon(path);
}

QIcon PaintedIcon(const std::function<void(QPainter&, int side)>& paint) {
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(painter, size);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon builtInStatusPicture(int state) {
    static const QColor colours[] = {QColor(128, 128, 128), QColor(0, 160, 0), QColor(220, 0, 0)};
    return PaintedIcon([state](QPainter& painter, int size) {
        painter.setPen(QPen(Qt::black, size / 16.0));
        painter.setBrush(colours[state < 0 || state > 2 ? 0 : state]);
        painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    });
}
