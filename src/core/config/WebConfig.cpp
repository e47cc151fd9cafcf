#include "WebConfig.h"

#include <QUrl>
#include <arpa/inet.h>
#include <cstring>

namespace {

bool IsAddress(const QString& text) {
    unsigned char bytes[16];
    const QByteArray latin = text.toLatin1();
    return inet_pton(AF_INET, latin.constData(), bytes) == 1 ||
           inet_pton(AF_INET6, latin.constData(), bytes) == 1;
}

// 127.0.0.0/8 or ::1.
bool IsLoopback(const QString& text) {
    unsigned char bytes[16];
    const QByteArray latin = text.toLatin1();
    if (inet_pton(AF_INET, latin.constData(), bytes) == 1)
        return bytes[0] == 127;
    static const unsigned char kOne[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return inet_pton(AF_INET6, latin.constData(), bytes) == 1 &&
           std::memcmp(bytes, kOne, sizeof kOne) == 0;
}

} // namespace

bool WebConfig::applyKey(const QString& key, const QString& value, QString* why) {
    if (key == QLatin1String("address") || key == QLatin1String("trusted proxy")) {
        if (!IsAddress(value)) {
            *why = QStringLiteral("\"%1\" is an IPv4 or IPv6 address, not a name").arg(key);
            return false;
        }
        (key == QLatin1String("address") ? address : trustedProxy) = value;
    } else if (key == QLatin1String("port")) {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok || number < 1 || number > 65535) {
            *why = QStringLiteral("\"port\" is a whole number from 1 to 65535");
            return false;
        }
        port = number;
    } else if (key == QLatin1String("certificate file") || key == QLatin1String("key file")) {
        if (!value.startsWith(u'/')) {
            *why = QStringLiteral("\"%1\" is an absolute path").arg(key);
            return false;
        }
        (key == QLatin1String("key file") ? keyFile : certificateFile) = value;
    } else if (key == QLatin1String("origin")) {
        const QUrl url(value, QUrl::StrictMode);
        if (!url.isValid() ||
            (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
            url.host().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/")) ||
            url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty()) {
            *why = QStringLiteral("\"origin\" is http:// or https:// and a host, with no path");
            return false;
        }
        // As a browser writes it: lower case, the scheme's own port left out.
        QUrl plain = url;
        if (plain.port() == (plain.scheme() == QLatin1String("https") ? 443 : 80))
            plain.setPort(-1);
        origin = plain.toString(QUrl::RemovePath).toLower();
    }
    return true;
}

QString WebConfig::problem() const {
    if (certificateFile.isEmpty() != keyFile.isEmpty())
        return QStringLiteral("TLS needs both \"certificate file\" and \"key file\"");
    if (!IsLoopback(address) && !tls() && trustedProxy.isEmpty())
        return QStringLiteral("the panel would listen on %1 without TLS: give \"certificate file\" "
                              "and \"key file\", or name the \"trusted proxy\" in front of it")
            .arg(address);
    return {};
}
