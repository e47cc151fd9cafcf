#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A file's contents; nothing when it cannot be read.
inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
