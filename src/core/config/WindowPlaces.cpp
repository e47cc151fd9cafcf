#include "WindowPlaces.h"

#include "LauncherSettings.h"

#include <QCryptographicHash>

namespace {

const QString kSection = QStringLiteral("Window Places");
const QString kNewcomers = QStringLiteral("Folders Placed");

} // namespace

WindowPlaces::WindowPlaces(LauncherSettings& settings, QString serverFolder)
    : settings_(settings), serverFolder_(std::move(serverFolder)) {}

// A folder's path holds separators and any letter; its digest makes a key every store keeps.
QString WindowPlaces::key() const {
    return QStringLiteral("Place ") +
           QString::fromLatin1(
               QCryptographicHash::hash(serverFolder_.toUtf8(), QCryptographicHash::Sha1)
                   .toHex()
                   .left(16));
}

QByteArray WindowPlaces::Remembered() const {
    return QByteArray::fromBase64(settings_.ReadUserValue(kSection, key()).toLatin1());
}

void WindowPlaces::Remember(const QByteArray& place) {
    settings_.SaveUserValue(kSection, key(), QString::fromLatin1(place.toBase64()));
}

int WindowPlaces::CountNewcomer() {
    bool ok = false;
    const int before = settings_.ReadUserValue(kSection, kNewcomers).toInt(&ok);
    const int count = ok && before >= 0 ? before : 0;
    settings_.SaveUserValue(kSection, kNewcomers, QString::number(count + 1));
    return count;
}
