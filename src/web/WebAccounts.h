#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class CheckedFolder;

// What an account of the web panel may do. Each role may do all that the one before it may.
enum class WebRole {
    Viewer,   // sees the servers, their consoles, logs, backups and history
    Operator, // also starts, stops and restarts them, types into consoles, backs up, skips
    Admin,    // also kills, restores, manages the accounts and the alerts
};

struct WebAccount {
    QString name;
    WebRole role = WebRole::Viewer;
    QByteArray hash; // the password's Argon2id hash, as libsodium writes it
    // The second factor, when the account has one: the secret its codes are made from, and the
    // hashes of the recovery codes not used yet.
    QByteArray totpSecret;
    QList<QByteArray> recoveryHashes;
};

// What the second factor of a login found.
enum class SecondFactor {
    NotNeeded, // the account has none
    Passed,    // a code of now, or a recovery code (used up with it)
    Missing,   // the account has one and no code came
    Wrong,
};

// The web panel's accounts of one installation, kept in a private file of the launcher's state
// folder: a line per account, "name role hash", followed with a second factor by
// "totp=<secret, base64> recovery=<hash>,<hash>,...". Passwords and recovery codes are never
// kept, only their hashes.
// Every change is whole or nothing: the file is replaced, never edited in place.
class WebAccounts {
public:
    WebAccounts();

    // The file's name in the state folder, for the installation of that server folder.
    static QString FileName(const QString& serverFolder);

    // Names are 1 to 32 of a-z, 0-9, '.', '_' and '-', starting with a letter or digit.
    static bool ValidName(const QString& name);
    // Why a name cannot be an account's, or empty when it can.
    static QString NameProblem(const QString& name);
    static std::optional<WebRole> RoleNamed(const QString& name);
    static QString RoleName(WebRole role);
    // Why a password cannot be used (too short, too long), or empty when it can.
    static QString PasswordProblem(const QByteArray& password);

    // The accounts of the file name in the folder; none when it is absent. False with the reason
    // when it cannot be read or any line of it is not an account's: nothing is guessed.
    bool load(const CheckedFolder& folder, const QString& name, QString* why);
    // Writes every account to the file, replacing it whole. False with the reason.
    bool save(const CheckedFolder& folder, const QString& name, QString* why) const;

    const QList<WebAccount>& accounts() const { return accounts_; }
    const WebAccount* find(const QString& name) const;

    // Why add or any other change of that name would be refused before its password is looked
    // at; empty when it would not.
    QString addProblem(const QString& name) const;
    QString accountProblem(const QString& name) const;

    // Each false with the reason, and nothing changed.
    bool add(const QString& name, WebRole role, const QByteArray& password, QString* why);
    bool setPassword(const QString& name, const QByteArray& password, QString* why);
    bool remove(const QString& name, QString* why);
    // Gives the account a new second factor: a new secret and kRecoveryCodes new recovery codes,
    // told once, kept only as hashes. False with the reason, and nothing changed.
    bool setSecondFactor(const QString& name, QByteArray* secret, QStringList* recoveryCodes,
                         QString* why);
    bool removeSecondFactor(const QString& name, QString* why);

    static constexpr int kRecoveryCodes = 10;

    // Checked only once the password was right. A code is a time step's at most once: lastStep
    // is the step last used by the account, moved on by a code that passes. A recovery code that
    // passes is removed from the account (save the accounts).
    SecondFactor checkSecondFactor(const QString& name, const QString& code, qint64 epochSeconds,
                                   qint64* lastStep, bool* recoveryUsed);

    // The role of the account when the password is its own. An unknown name costs as much time
    // as a wrong password, so the answer's time does not tell which accounts exist.
    std::optional<WebRole> check(const QString& name, const QByteArray& password) const;

    // The cost of each new hash: libsodium's interactive limits unless set lower (tests only).
    void setHashCost(unsigned long long opsLimit, std::size_t memLimit);

private:
    QByteArray hash(const QByteArray& password, QString* why) const;
    qsizetype indexOf(const QString& name) const;
    int admins() const;

    QList<WebAccount> accounts_;
    mutable QByteArray standIn_; // checked against for a name without an account
    unsigned long long opsLimit_;
    std::size_t memLimit_;
};
