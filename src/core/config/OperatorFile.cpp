#include "OperatorFile.h"

#include <QFile>
#include <QLocale>

bool ReadOperatorFile(const QString& path, qint64 maxBytes, QByteArray* data, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = path + QStringLiteral(" cannot be read: ") + file.errorString();
        return false;
    }
    *data = file.read(maxBytes + 1);
    if (data->size() > maxBytes) {
        *why = path + QStringLiteral(" is larger than ") +
               QLocale::c().formattedDataSize(maxBytes, 0, QLocale::DataSizeTraditionalFormat);
        return false;
    }
    return true;
}
