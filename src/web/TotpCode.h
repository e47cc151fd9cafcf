#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Time-based one-time codes (RFC 6238: HMAC-SHA1, 30 s steps, 6 digits), as authenticator apps
// make them from a secret shared once.
namespace TotpCode {

inline constexpr int kStepSeconds = 30;
inline constexpr int kSecretBytes = 20;

// A new secret of kSecretBytes random bytes; empty when no random numbers could be had.
QByteArray NewSecret();
// The secret as an authenticator app takes it: base32, unpadded.
QString Base32(const QByteArray& secret);
// "otpauth://totp/Corvane%20Launcher:ada?secret=...&issuer=Corvane%20Launcher".
QString KeyUri(const QString& account, const QByteArray& secret);

// The time step of the code when it is the secret's at epochSeconds or one step either side (a
// phone's clock a little off); nothing when it is not.
std::optional<qint64> MatchingStep(const QByteArray& secret, const QString& code,
                                   qint64 epochSeconds);
// The code at that time.
QString CodeAt(const QByteArray& secret, qint64 epochSeconds);

} // namespace TotpCode
