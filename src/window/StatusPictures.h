#pragma once

#include <QIcon>
#include <QString>
#include <functional>

class QPainter;

// The icon in the file, or a null icon when the file is missing or holds no readable picture.
QIcon loadIconFile(const QString& path);

// A plain picture for a launcher state (0 offline, 1 online, 2 crashed), for when its file fails.
QIcon builtInStatusPicture(int state);

// An icon painted at 16 and 32 pixels, antialiased, on a transparent square of the given side.
QIcon PaintedIcon(const std::function<void(QPainter&, int side)>& paint);
