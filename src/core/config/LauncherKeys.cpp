#include "LauncherKeys.h"

#include <QRegularExpression>
#include <arpa/inet.h>

namespace LauncherKeys {

namespace {

constexpr const LauncherKey* kAll[] = {
    &kStatusAddress,  &kStatusPort,          &kStatusToken,      &kTrustedGroup,
    &kLogGroup,       &kLogSizeKb,           &kLogFilesKept,     &kConsoleLines,
    &kSampleSeconds,  &kHistoryWriteSeconds, &kCrashReportsKept, &kRelaunchBurst,
    &kRelaunchWindow, &kRelaunchFirstDelay,  &kRelaunchMaxDelay, &kRelaunchStableAfter,
    &kReadyConsole,   &kLoginCloseRequest,   &kCharCloseRequest, &kMapCloseRequest,
    &kKeepHistory,    &kControlGroup,
};

QString Simplified(QStringView name) {
    return name.toString().simplified().toLower();
}

} // namespace

std::span<const LauncherKey* const> All() {
    return kAll;
}

const LauncherKey* Find(QStringView name) {
    const QString wanted = Simplified(name);
    for (const LauncherKey* key : kAll)
        if (QString::fromLatin1(key->name).toLower() == wanted)
            return key;
    return nullptr;
}

QString Problem(const LauncherKey& key, const QString& value) {
    const QString name = QString::fromLatin1(key.name).toLower();
    switch (key.type) {
    case Type::Number: {
        bool ok = false;
        const qint64 number = value.trimmed().toLongLong(&ok);
        if (ok && number >= key.low && number <= key.high)
            return {};
        return QStringLiteral("\"%1\" is a whole number from %2 to %3")
            .arg(name)
            .arg(key.low)
            .arg(key.high);
    }
    case Type::Address: {
        const QByteArray text = value.trimmed().toLatin1();
        unsigned char address[16];
        if (inet_pton(AF_INET, text.constData(), address) == 1 ||
            inet_pton(AF_INET6, text.constData(), address) == 1)
            return {};
        return QStringLiteral("\"%1\" is an IPv4 or IPv6 address, not a name").arg(name);
    }
    case Type::Group: {
        static const QRegularExpression form(QStringLiteral("^[A-Za-z_][A-Za-z0-9_.-]{0,31}$"));
        if (form.match(value).hasMatch())
            return {};
        return QStringLiteral("\"%1\" is the name of a group").arg(name);
    }
    case Type::CloseRequest: {
        static const QRegularExpression form(
            QStringLiteral("^\\s*(SIGTERM|SIGINT|SIGHUP)\\s*$|^console:.*\\S"));
        if (form.match(value).hasMatch())
            return {};
        return QStringLiteral("\"%1\" is SIGTERM, SIGINT, SIGHUP or console:<command>").arg(name);
    }
    case Type::Token: {
        static const QRegularExpression form(QStringLiteral("^[!-~]{16,256}$"));
        if (form.match(value).hasMatch())
            return {};
        return QStringLiteral("\"%1\" is 16 to 256 visible characters, without blanks").arg(name);
    }
    }
    return {};
}

} // namespace LauncherKeys
