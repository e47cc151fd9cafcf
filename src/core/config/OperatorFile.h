#pragma once

#include <QByteArray>
#include <QString>

// Reads a small file the operator names in the installation file (an address, headers, a
// certificate): false with the reason when it cannot be read or is larger than maxBytes, which
// would be a mistake rather than such a file.
bool ReadOperatorFile(const QString& path, qint64 maxBytes, QByteArray* data, QString* why);
