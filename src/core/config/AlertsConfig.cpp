#include "AlertsConfig.h"

#include <QUrl>

namespace {

bool WholeNumber(const QString& value, int least, int most, int* out) {
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < least || n > most)
        return false;
    *out = n;
    return true;
}

} // namespace

bool AlertsConfig::UsableUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool AlertsConfig::applyKey(const QString& key, const QString& value, QString* why) {
    const auto number = [&](int least, int most, int* out) {
        if (WholeNumber(value, least, most, out))
            return true;
        *why =
            QStringLiteral("\"%1\" is a whole number from %2 to %3").arg(key).arg(least).arg(most);
        return false;
    };
    if (key == QLatin1String("back up after"))
        return number(1, 86400, &backUpAfterSeconds);
    if (key == QLatin1String("summary every"))
        return number(10, 86400, &summaryEverySeconds);
    if (key == QLatin1String("queue limit"))
        return number(1, 100000, &queueLimit);
    *why = QStringLiteral("\"%1\" is no key of [Alerts]; they are \"back up after\", \"summary "
                          "every\" and \"queue limit\"")
               .arg(key);
    return false;
}

bool AlertsConfig::ApplyEndpointKey(AlertEndpointConfig& endpoint, const QString& key,
                                    const QString& value, QString* why) {
    if (key == QLatin1String("url")) {
        if (!UsableUrl(value)) {
            *why = QStringLiteral("\"url\" is an http:// or https:// address");
            return false;
        }
        endpoint.url = value;
    } else if (key == QLatin1String("url file")) {
        endpoint.urlFile = value;
    } else if (key == QLatin1String("format")) {
        const QString format = value.toLower();
        if (format != QLatin1String("json") && format != QLatin1String("discord") &&
            format != QLatin1String("slack") && format != QLatin1String("ntfy")) {
            *why = QStringLiteral("\"format\" is json, discord, slack or ntfy");
            return false;
        }
        endpoint.format = format;
    } else if (key == QLatin1String("headers file")) {
        endpoint.headersFile = value;
    } else if (key == QLatin1String("ca file")) {
        endpoint.caFile = value;
    } else {
        *why = QStringLiteral("\"%1\" is no key of an alert's section; they are \"url\", \"url "
                              "file\", \"format\", \"headers file\" and \"ca file\"")
                   .arg(key);
        return false;
    }
    return true;
}

QString AlertsConfig::EndpointProblem(const AlertEndpointConfig& endpoint) {
    if (endpoint.name.isEmpty())
        return QStringLiteral("[Alert] needs a name, as in [Alert ops]; it is left out");
    if (endpoint.url.isEmpty() == endpoint.urlFile.isEmpty())
        return QStringLiteral("[Alert %1] needs one of \"url\" and \"url file\"; it is left out")
            .arg(endpoint.name);
    return {};
}
