#include "UserCommand.h"

#include "CheckedFolder.h"
#include "Platform.h"
#include "TotpCode.h"
#include "WebAccounts.h"

#include <QLockFile>
#include <cstdio>

namespace {

constexpr int kDone = 0, kRefused = 1, kUsage = 2;
constexpr int kLockWaitMs = 10000;

int Refused(const QString& why) {
    std::fprintf(stderr, "corvanectl: %s\n", qPrintable(why));
    return kRefused;
}

int Usage(const QString& why) {
    std::fprintf(stderr,
                 "corvanectl: %s\nUsage: corvanectl [--server-dir FOLDER] user list | add NAME "
                 "[--role viewer|operator|admin] | passwd NAME | remove NAME | totp NAME on|off\n",
                 qPrintable(why));
    return kUsage;
}

// The new password: typed twice at a terminal, else the first line of standard input.
bool NewPassword(const QString& name, QByteArray* password, QString* why) {
    const QByteArray prompt = "Password for " + name.toUtf8() + ": ";
    bool typed = false;
    if (!ReadSecretLine(prompt.constData(), password, &typed)) {
        *why = QStringLiteral("no password given");
        return false;
    }
    if (typed) {
        QByteArray again;
        if (!ReadSecretLine("Again: ", &again) || again != *password) {
            *why = QStringLiteral("the two passwords differ");
            return false;
        }
    }
    *why = WebAccounts::PasswordProblem(*password);
    return why->isEmpty();
}

} // namespace

int RunUserCommand(const QString& serverFolder, QStringList arguments) {
    const QString verb = arguments.isEmpty() ? QString() : arguments.takeFirst();
    QString role = QStringLiteral("viewer");
    if (verb == QLatin1String("add") && arguments.size() == 3 &&
        arguments[1] == QLatin1String("--role")) {
        role = arguments.takeLast();
        arguments.removeLast();
    }
    QString totp;
    if (verb == QLatin1String("totp") && arguments.size() == 2) {
        totp = arguments.takeLast();
        if (totp != QLatin1String("on") && totp != QLatin1String("off"))
            return Usage(QStringLiteral("user totp NAME needs on or off"));
    }
    const bool named = verb == QLatin1String("add") || verb == QLatin1String("passwd") ||
                       verb == QLatin1String("remove") || verb == QLatin1String("totp");
    if (!named && verb != QLatin1String("list"))
        return Usage(verb.isEmpty() ? QStringLiteral("user needs list, add, passwd, remove or totp")
                                    : QStringLiteral("no such user verb: ") + verb);
    if (verb == QLatin1String("totp") && totp.isEmpty())
        return Usage(QStringLiteral("user totp needs one account name and on or off"));
    if (arguments.size() != (named ? 1 : 0))
        return Usage(named ? QStringLiteral("user %1 needs one account name").arg(verb)
                           : QStringLiteral("user list takes nothing more"));
    const QString name = named ? arguments.first() : QString();
    const std::optional<WebRole> asked = WebAccounts::RoleNamed(role);
    if (!asked)
        return Usage(QStringLiteral("no such role: %1 (viewer, operator or admin)").arg(role));

    QString why;
    const QString state = PrivateStateFolder(&why);
    const std::unique_ptr<CheckedFolder> folder =
        state.isEmpty() ? nullptr : CheckedFolder::Open(state, false, &why);
    if (!folder)
        return Refused(QStringLiteral("no state folder: ") + why);
    const QString file = WebAccounts::FileName(serverFolder);
    // Two changes at once would each write the file without the other's account.
    QLockFile lock(state + u'/' + file + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        return Refused(QStringLiteral("the accounts are being changed by another corvanectl"));
    WebAccounts accounts;
    if (!accounts.load(*folder, file, &why))
        return Refused(why);

    if (verb == QLatin1String("list")) {
        for (const WebAccount& a : accounts.accounts())
            std::printf("%s %s%s\n", qPrintable(a.name), qPrintable(WebAccounts::RoleName(a.role)),
                        a.totpSecret.isEmpty() ? "" : " totp");
        return kDone;
    }
    QByteArray secret;
    QStringList recoveryCodes;
    if (verb == QLatin1String("totp")) {
        const bool done = totp == QLatin1String("on")
                              ? accounts.setSecondFactor(name, &secret, &recoveryCodes, &why)
                              : accounts.removeSecondFactor(name, &why);
        if (!done)
            return Refused(why);
    } else if (verb == QLatin1String("remove")) {
        if (!accounts.remove(name, &why))
            return Refused(why);
    } else {
        // Refused before a password is asked for, where it can be.
        why = verb == QLatin1String("add") ? accounts.addProblem(name)
                                           : accounts.accountProblem(name);
        if (!why.isEmpty())
            return Refused(why);
        QByteArray password;
        const bool done =
            NewPassword(name, &password, &why) &&
            (verb == QLatin1String("add") ? accounts.add(name, *asked, password, &why)
                                          : accounts.setPassword(name, password, &why));
        password.fill('\0');
        if (!done)
            return Refused(why);
    }
    if (!accounts.save(*folder, file, &why))
        return Refused(why);
    if (verb == QLatin1String("totp") && totp == QLatin1String("on")) {
        // Told once: only the hashes of the recovery codes are kept.
        std::printf("%s now logs in with a code. Give an authenticator app this key:\n  %s\n"
                    "or this address:\n  %s\nRecovery codes, each good once (keep them "
                    "apart):\n",
                    qPrintable(name), qPrintable(TotpCode::Base32(secret)),
                    qPrintable(TotpCode::KeyUri(name, secret)));
        for (const QString& code : recoveryCodes)
            std::printf("  %s\n", qPrintable(code));
    } else if (verb == QLatin1String("totp")) {
        std::printf("%s logs in without a code\n", qPrintable(name));
    } else if (verb == QLatin1String("add")) {
        std::printf("added %s, %s\n", qPrintable(name), qPrintable(role));
    } else {
        std::printf(verb == QLatin1String("remove") ? "removed %s\n"
                                                    : "changed the password of %s\n",
                    qPrintable(name));
    }
    return kDone;
}
