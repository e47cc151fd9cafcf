#include "LauncherSettings.h"

#include "LauncherKeys.h"
#include "LauncherLog.h"
#include "SectionKeys.h"
#include "SettingsStore.h"

#include <cstdio>
#include <optional>

namespace {

const QString kApp = QStringLiteral("CorvaneLauncher");
const QString kSection = QStringLiteral("Settings");
const QString kAutoRestart = QLatin1String(SectionKeys::kAutoRestart);
const QString kMinimizeToTray = QLatin1String(SectionKeys::kMinimizeToTray);
const QString kUpdateServerMessage = QLatin1String(SectionKeys::kUpdateServerMessage);
const QString kInterval = QLatin1String(SectionKeys::kUpdateInterval);
// "Log All Server Message To Disk"
const QString kLogToDisk = QLatin1String(SectionKeys::kLogServerMessages);
// "Report Server Status to CorvaneStatServer"
const QString kReportStatus = QLatin1String(SectionKeys::kReportServerStatus);

constexpr int kDefaultIntervalSeconds = 5;
constexpr int kMinIntervalSeconds = 1;
constexpr int kMaxIntervalSeconds = 10;

// A stored value as a 16-bit integer; nothing when it is not a whole number of that size.
std::optional<std::int16_t> toInt16(const QString& text) {
    bool ok = false;
    const short value = text.trimmed().toShort(&ok);
    if (!ok)
        return std::nullopt;
    return static_cast<std::int16_t>(value);
}

} // namespace

const QString LauncherSettings::kWindowGrow = QString::fromLatin1(SectionKeys::kWindowGrow);
const QString LauncherSettings::kAdvancedFeatures =
    QString::fromLatin1(SectionKeys::kAdvancedFeatures);

LauncherSettings::LauncherSettings(SettingsStore& store, LauncherLog& log)
    : store_(store), log_(log) {}

QString LauncherSettings::ReadStored(const QString& key, const QString& fallback) {
    return store_.GetSetting(kApp, kSection, key, fallback);
}

QString LauncherSettings::Read(const QString& key, const QString& fallback) {
    if (installation_) {
        const auto found = installation_->constFind(key.toLower());
        if (found != installation_->constEnd())
            return *found;
    }
    return ReadStored(key, fallback);
}

QString LauncherSettings::Read(const LauncherKey& key) {
    const QString fallback = QString::fromLatin1(key.fallback);
    if (!key.installationOnly)
        return Read(QString::fromLatin1(key.name), fallback);
    if (!installation_)
        return fallback;
    return installation_->value(QString::fromLatin1(key.name).toLower(), fallback);
}

qint64 LauncherSettings::ReadNumber(const LauncherKey& key) {
    return ReadNumber(QString::fromLatin1(key.name), key.number(), key.low, key.high);
}

QString LauncherSettings::ReadUserValue(const QString& section, const QString& key) {
    return store_.GetSetting(kApp, section, key, QString());
}

void LauncherSettings::SaveUserValue(const QString& section, const QString& key,
                                     const QString& value) {
    QString error;
    if (!store_.SaveSetting(kApp, section, key, value, &error))
        log_.note(QStringLiteral("Cannot save setting \"") + key + QStringLiteral("\": ") + error);
}

void LauncherSettings::LogUnusable(const QString& key, const QString& stored, const QString& kept) {
    const QString told = key + QChar(0) + stored;
    if (named_.contains(told))
        return;
    named_.insert(told);
    log_.note(QStringLiteral("Setting \"") + key + QStringLiteral("\" holds \"") + stored +
              QStringLiteral("\", which cannot be used; keeping ") + kept + QStringLiteral("."));
}

qint64 LauncherSettings::ReadNumber(const QString& key, qint64 fallback, qint64 low, qint64 high) {
    const QString stored = Read(key, QString::number(fallback));
    bool ok = false;
    const qint64 value = stored.trimmed().toLongLong(&ok);
    if (ok && value >= low && value <= high)
        return value;
    LogUnusable(key, stored, QString::number(fallback));
    return fallback;
}

LauncherOptions LauncherSettings::LoadOptions(const LauncherOptions& starting) {
    const QString problem = store_.ReadProblem(kApp);
    if (!problem.isEmpty())
        log_.note(QStringLiteral("Cannot read the stored settings: ") + problem +
                  QStringLiteral("; options not found in it keep their defaults."));

    LauncherOptions options = starting;
    // A check box holds 0, 1 or 2. A value that cannot be used counts as a missing one.
    const auto loadBox = [&](int& option, const QString& key, int fallback) {
        const QString stored = ReadStored(key, QString::number(fallback));
        const std::optional<std::int16_t> value = toInt16(stored);
        const bool usable = value && *value >= 0 && *value <= 2;
        option = usable ? *value : fallback;
        if (!usable)
            LogUnusable(key, stored, QString::number(fallback));
    };
    loadBox(options.autoRestart, kAutoRestart, 1);
    loadBox(options.trayIconUse, kMinimizeToTray, 1);
    loadBox(options.messageUpdate, kUpdateServerMessage, 1);
    loadBox(options.logToDisk, kLogToDisk, 0);
    loadBox(options.sendStatus, kReportStatus, 0);

    // An interval outside what the timer accepts is refused as a whole, so that the window never
    // shows a number the timer does not use.
    const QString stored = ReadStored(kInterval, QString::number(kDefaultIntervalSeconds));
    const std::optional<std::int16_t> seconds = toInt16(stored);
    if (seconds && *seconds >= kMinIntervalSeconds && *seconds <= kMaxIntervalSeconds) {
        options.intervalSeconds = *seconds;
    } else {
        options.intervalSeconds = kDefaultIntervalSeconds;
        LogUnusable(kInterval, stored, QString::number(kDefaultIntervalSeconds));
    }
    return options;
}

void LauncherSettings::SaveOptions(const LauncherOptions& options) {
    const auto save = [&](const QString& key, int value) {
        QString error;
        if (store_.SaveSetting(kApp, kSection, key, QString::number(value), &error))
            return;
        const QString line = log_.Now() + QStringLiteral("> Cannot save setting \"") + key +
                             QStringLiteral("\": ") + error;
        log_.LauncherLogAdd(line);
        std::fprintf(stderr, "corvane-launcher: %s\n", qPrintable(line));
    };
    save(kAutoRestart, options.autoRestart);
    save(kMinimizeToTray, options.trayIconUse);
    save(kUpdateServerMessage, options.messageUpdate);
    save(kInterval, options.intervalSeconds);
    if (!AdvancedFeaturesOn())
        return;
    save(kLogToDisk, options.logToDisk);
    save(kReportStatus, options.sendStatus);
}

bool LauncherSettings::OptedIn(const QString& optIn) {
    return ReadStored(optIn, QString()).trimmed() == QStringLiteral("1");
}

void LauncherSettings::SetOptIn(const QString& optIn, bool on) {
    SaveUserValue(kSection, optIn, on ? QStringLiteral("1") : QStringLiteral("0"));
}

bool LauncherSettings::AdvancedFeaturesOn() {
    const QString optIn = ReadStored(kAdvancedFeatures, QString()).trimmed();
    if (!optIn.isEmpty())
        return optIn == QStringLiteral("1");
    return !ReadStored(kLogToDisk, QString()).isEmpty() ||
           !ReadStored(kReportStatus, QString()).isEmpty();
}
