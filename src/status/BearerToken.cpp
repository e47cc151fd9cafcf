#include "BearerToken.h"

#include <QCryptographicHash>

namespace {

QByteArray Digest(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

} // namespace

bool CarriesBearerToken(const QByteArray& authorization, const QByteArray& token) {
    static const QByteArray scheme = QByteArrayLiteral("bearer ");
    const QByteArray value = authorization.trimmed();
    const bool bearer = value.left(scheme.size()).toLower() == scheme;
    // Digests of equal length, compared byte by byte to the end: no early way out.
    const QByteArray sent = Digest(value.mid(scheme.size()).trimmed());
    const QByteArray wanted = Digest(token);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < wanted.size(); ++i)
        difference |= static_cast<unsigned char>(sent[i] ^ wanted[i]);
    return bearer && difference == 0 && !token.isEmpty();
}
