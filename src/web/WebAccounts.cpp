#include "WebAccounts.h"

#include "CheckedFolder.h"
#include "InstallationKey.h"
#include "Sodium.h"
#include "TotpCode.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

constexpr qint64 kMaxFileBytes = 1 << 20;
constexpr qsizetype kMinPasswordBytes = 10;
constexpr qsizetype kMaxPasswordBytes = 1024;
const char* const kFirstLine =
    "# corvane-launcher web accounts: name role hash [totp=secret recovery=hashes]";

constexpr struct {
    WebRole role;
    const char* name;
} kRoles[] = {
    {WebRole::Viewer, "viewer"},
    {WebRole::Operator, "operator"},
    {WebRole::Admin, "admin"},
};

qsizetype IndexIn(const QList<WebAccount>& accounts, const QString& name) {
    for (qsizetype i = 0; i < accounts.size(); ++i)
        if (accounts[i].name == name)
            return i;
    return -1;
}

// "totp=<base64> recovery=<hex>,<hex>,...", the two fields after the hash.
bool ReadSecondFactor(const QList<QByteArray>& fields, WebAccount* account) {
    if (!fields[3].startsWith("totp=") || !fields[4].startsWith("recovery="))
        return false;
    const auto secret =
        QByteArray::fromBase64Encoding(fields[3].mid(5), QByteArray::AbortOnBase64DecodingErrors);
    if (!secret || secret.decoded.size() != TotpCode::kSecretBytes)
        return false;
    account->totpSecret = secret.decoded;
    const QByteArray codes = fields[4].mid(9);
    account->recoveryHashes = codes.isEmpty() ? QList<QByteArray>() : codes.split(',');
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    return std::all_of(
        account->recoveryHashes.begin(), account->recoveryHashes.end(),
        [](const QByteArray& h) { return hex.match(QString::fromLatin1(h)).hasMatch(); });
}

// A recovery code's hash: the code is long and random, so a fast hash keeps it as well as a slow
// one would.
QByteArray RecoveryHash(const QString& code) {
    const QByteArray bytes = code.trimmed().toLower().remove(u'-').toLatin1();
    unsigned char out[32];
    crypto_generichash(out, sizeof out, reinterpret_cast<const unsigned char*>(bytes.constData()),
                       std::size_t(bytes.size()), nullptr, 0);
    return QByteArray(reinterpret_cast<const char*>(out), sizeof out).toHex();
}

// "k3x9q-7mwa2": 50 random bits in base32's letters and digits.
QString NewRecoveryCode() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz234567";
    QString code;
    for (int i = 0; i < 10; ++i) {
        if (i == 5)
            code += u'-';
        code += QLatin1Char(kLetters[randombytes_uniform(32)]);
    }
    return code;
}

} // namespace

WebAccounts::WebAccounts()
    : opsLimit_(crypto_pwhash_OPSLIMIT_INTERACTIVE), memLimit_(crypto_pwhash_MEMLIMIT_INTERACTIVE) {
}

QString WebAccounts::FileName(const QString& serverFolder) {
    return QStringLiteral("web-") + InstallationKey(serverFolder) + QStringLiteral(".users");
}

bool WebAccounts::ValidName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9][a-z0-9._-]{0,31}$"));
    return pattern.match(name).hasMatch();
}

QString WebAccounts::NameProblem(const QString& name) {
    return ValidName(name) ? QString()
                           : QStringLiteral("an account's name is 1 to 32 of a-z, 0-9, '.', '_' "
                                            "and '-', starting with a letter or digit");
}

std::optional<WebRole> WebAccounts::RoleNamed(const QString& name) {
    for (const auto& r : kRoles)
        if (name == QLatin1String(r.name))
            return r.role;
    return std::nullopt;
}

QString WebAccounts::RoleName(WebRole role) {
    for (const auto& r : kRoles)
        if (r.role == role)
            return QLatin1String(r.name);
    return QString();
}

QString WebAccounts::PasswordProblem(const QByteArray& password) {
    if (password.size() < kMinPasswordBytes)
        return QStringLiteral("a password needs at least %1 characters").arg(kMinPasswordBytes);
    if (password.size() > kMaxPasswordBytes)
        return QStringLiteral("a password has at most %1 bytes").arg(kMaxPasswordBytes);
    if (password.contains('\n') || password.contains('\0'))
        return QStringLiteral("a password is one line");
    return QString();
}

bool WebAccounts::load(const CheckedFolder& folder, const QString& name, QString* why) {
    QByteArray data;
    if (!folder.readAll(name, kMaxFileBytes, &data, why))
        return false;
    QList<WebAccount> read;
    int number = 0;
    for (const QByteArray& line : data.split('\n')) {
        ++number;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(' ');
        WebAccount account;
        account.name = QString::fromUtf8(fields.value(0));
        const std::optional<WebRole> role = RoleNamed(QString::fromUtf8(fields.value(1)));
        account.hash = fields.value(2);
        const bool secondFactor = fields.size() == 5 && ReadSecondFactor(fields, &account);
        if ((fields.size() != 3 && !secondFactor) || !ValidName(account.name) || !role ||
            !account.hash.startsWith("$argon2id$") || IndexIn(read, account.name) >= 0) {
            *why = QStringLiteral("%1, line %2: not an account (name role hash)")
                       .arg(folder.path() + u'/' + name)
                       .arg(number);
            return false;
        }
        account.role = *role;
        read << account;
    }
    accounts_ = read;
    return true;
}

bool WebAccounts::save(const CheckedFolder& folder, const QString& name, QString* why) const {
    QByteArray data = QByteArray(kFirstLine) + '\n';
    for (const WebAccount& a : accounts_)
        data += a.name.toUtf8() + ' ' + RoleName(a.role).toUtf8() + ' ' + a.hash +
                (a.totpSecret.isEmpty() ? QByteArray()
                                        : " totp=" + a.totpSecret.toBase64() +
                                              " recovery=" + a.recoveryHashes.join(',')) +
                '\n';
    return folder.replace(name, data, why);
}

const WebAccount* WebAccounts::find(const QString& name) const {
    const qsizetype i = indexOf(name);
    return i < 0 ? nullptr : &accounts_[i];
}

QString WebAccounts::addProblem(const QString& name) const {
    return !ValidName(name)     ? NameProblem(name)
           : indexOf(name) >= 0 ? QStringLiteral("the account %1 exists already").arg(name)
                                : QString();
}

QString WebAccounts::accountProblem(const QString& name) const {
    return indexOf(name) < 0 ? QStringLiteral("no account %1").arg(name) : QString();
}

bool WebAccounts::add(const QString& name, WebRole role, const QByteArray& password, QString* why) {
    if (*why = addProblem(name); !why->isEmpty())
        return false;
    const QByteArray hashed = hash(password, why);
    if (hashed.isEmpty())
        return false;
    accounts_ << WebAccount{name, role, hashed};
    return true;
}

bool WebAccounts::setPassword(const QString& name, const QByteArray& password, QString* why) {
    if (*why = accountProblem(name); !why->isEmpty())
        return false;
    const qsizetype i = indexOf(name);
    const QByteArray hashed = hash(password, why);
    if (hashed.isEmpty())
        return false;
    accounts_[i].hash = hashed;
    return true;
}

bool WebAccounts::remove(const QString& name, QString* why) {
    if (*why = accountProblem(name); !why->isEmpty())
        return false;
    const qsizetype i = indexOf(name);
    // Nobody could manage the accounts from the panel any more.
    if (accounts_[i].role == WebRole::Admin && admins() == 1 && accounts_.size() > 1) {
        *why = QStringLiteral("%1 is the last admin: make another admin first").arg(name);
        return false;
    }
    accounts_.removeAt(i);
    return true;
}

bool WebAccounts::setSecondFactor(const QString& name, QByteArray* secret,
                                  QStringList* recoveryCodes, QString* why) {
    if (*why = accountProblem(name); !why->isEmpty())
        return false;
    const QByteArray made = TotpCode::NewSecret();
    if (made.isEmpty()) {
        *why = QStringLiteral("no random numbers could be had");
        return false;
    }
    QStringList codes;
    QList<QByteArray> hashes;
    for (int i = 0; i < kRecoveryCodes; ++i) {
        codes << NewRecoveryCode();
        hashes << RecoveryHash(codes.last());
    }
    WebAccount& account = accounts_[indexOf(name)];
    account.totpSecret = made;
    account.recoveryHashes = hashes;
    *secret = made;
    *recoveryCodes = codes;
    return true;
}

bool WebAccounts::removeSecondFactor(const QString& name, QString* why) {
    if (*why = accountProblem(name); !why->isEmpty())
        return false;
    WebAccount& account = accounts_[indexOf(name)];
    account.totpSecret.clear();
    account.recoveryHashes.clear();
    return true;
}

SecondFactor WebAccounts::checkSecondFactor(const QString& name, const QString& code,
                                            qint64 epochSeconds, qint64* lastStep,
                                            bool* recoveryUsed) {
    *recoveryUsed = false;
    const qsizetype i = indexOf(name);
    if (i < 0 || accounts_[i].totpSecret.isEmpty())
        return SecondFactor::NotNeeded;
    if (code.trimmed().isEmpty())
        return SecondFactor::Missing;
    WebAccount& account = accounts_[i];
    if (const std::optional<qint64> step =
            TotpCode::MatchingStep(account.totpSecret, code, epochSeconds)) {
        if (*step <= *lastStep)
            return SecondFactor::Wrong; // seen already: a code is good once
        *lastStep = *step;
        return SecondFactor::Passed;
    }
    if (code.size() > 32 || !SodiumReady())
        return SecondFactor::Wrong;
    const QByteArray hashed = RecoveryHash(code);
    if (!account.recoveryHashes.removeOne(hashed))
        return SecondFactor::Wrong;
    *recoveryUsed = true;
    return SecondFactor::Passed;
}

std::optional<WebRole> WebAccounts::check(const QString& name, const QByteArray& password) const {
    if (!SodiumReady())
        return std::nullopt;
    const WebAccount* account = find(name);
    if (account == nullptr && standIn_.isEmpty()) {
        // A hash of no password anybody has, at the cost of the real ones.
        unsigned char random[32];
        randombytes_buf(random, sizeof random);
        standIn_ = hash(
            QByteArray::fromRawData(reinterpret_cast<const char*>(random), 32).toBase64(), nullptr);
    }
    const QByteArray& against = account ? account->hash : standIn_;
    if (against.isEmpty() || password.size() > kMaxPasswordBytes)
        return std::nullopt;
    const bool matches =
        crypto_pwhash_str_verify(against.constData(), password.constData(),
                                 static_cast<unsigned long long>(password.size())) == 0;
    if (!matches || account == nullptr)
        return std::nullopt;
    return account->role;
}

void WebAccounts::setHashCost(unsigned long long opsLimit, std::size_t memLimit) {
    opsLimit_ = opsLimit;
    memLimit_ = memLimit;
}

QByteArray WebAccounts::hash(const QByteArray& password, QString* why) const {
    QString problem = PasswordProblem(password);
    char out[crypto_pwhash_STRBYTES];
    if (problem.isEmpty() &&
        (!SodiumReady() || crypto_pwhash_str(out, password.constData(),
                                             static_cast<unsigned long long>(password.size()),
                                             opsLimit_, memLimit_) != 0))
        problem = QStringLiteral("the password could not be hashed (out of memory?)");
    if (!problem.isEmpty()) {
        if (why)
            *why = problem;
        return QByteArray();
    }
    return QByteArray(out);
}

qsizetype WebAccounts::indexOf(const QString& name) const {
    return IndexIn(accounts_, name);
}

int WebAccounts::admins() const {
    int count = 0;
    for (const WebAccount& a : accounts_)
        count += a.role == WebRole::Admin;
    return count;
}
