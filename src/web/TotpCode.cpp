#include "TotpCode.h"

#include "Sodium.h"

#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <liboath/oath.h>

namespace TotpCode {

namespace {

bool OathReady() {
    static const bool ready = oath_init() == OATH_OK;
    return ready;
}

} // namespace

QByteArray NewSecret() {
    if (!SodiumReady())
        return QByteArray();
    QByteArray secret(kSecretBytes, Qt::Uninitialized);
    randombytes_buf(secret.data(), static_cast<std::size_t>(secret.size()));
    return secret;
}

QString Base32(const QByteArray& secret) {
    char* out = nullptr;
    std::size_t length = 0;
    if (!OathReady() || oath_base32_encode(secret.constData(), std::size_t(secret.size()), &out,
                                           &length) != OATH_OK)
        return QString();
    QString text = QString::fromLatin1(out, qsizetype(length));
    std::free(out);
    while (text.endsWith(u'='))
        text.chop(1);
    return text;
}

QString KeyUri(const QString& account, const QByteArray& secret) {
    const QString issuer = QStringLiteral("Corvane Launcher");
    return QStringLiteral("otpauth://totp/%1:%2?secret=%3&issuer=%1")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(issuer)),
             QString::fromLatin1(QUrl::toPercentEncoding(account)), Base32(secret));
}

std::optional<qint64> MatchingStep(const QByteArray& secret, const QString& code,
                                   qint64 epochSeconds) {
    const QByteArray digits = code.trimmed().toLatin1();
    if (!OathReady() || secret.isEmpty() || digits.size() != 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int offset = 0;
    const int found =
        oath_totp_validate2(secret.constData(), std::size_t(secret.size()), time_t(epochSeconds),
                            kStepSeconds, 0, 1, &offset, digits.constData());
    if (found < 0)
        return std::nullopt;
    return epochSeconds / kStepSeconds + offset;
}

QString CodeAt(const QByteArray& secret, qint64 epochSeconds) {
    char out[7] = {};
    if (!OathReady() ||
        oath_totp_generate(secret.constData(), std::size_t(secret.size()), time_t(epochSeconds),
                           kStepSeconds, 0, 6, out) != OATH_OK)
        return QString();
    return QString::fromLatin1(out);
}

} // namespace TotpCode
