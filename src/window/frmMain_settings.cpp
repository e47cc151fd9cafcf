#include "frmMain.h"

#include "SettingsStore.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"
#include "modAPIs.h"

#include <QLineEdit>
#include <cstdio>
#include <optional>

namespace {

const QString kApp = QStringLiteral("CorvaneLauncher");
const QString kSection = QStringLiteral("Settings");
const QString kAutoRestart = QStringLiteral("AutoRestart");
const QString kMinimizeToTray = QStringLiteral("MinimizeToTray");
const QString kUpdateServerMessage = QStringLiteral("UpdateServerMessage");
const QString kInterval = QStringLiteral("ServerMessage Update Interval");
// "Log All Server Message To Disk"
const QString kLogToDisk = QStringLiteral("LogServerMessages");
// "Report Server Status to CorvaneStatServer"
const QString kReportStatus = QStringLiteral("Report Server Status");
// How many of a console's last lines the message pane shows; only read, never written.
const QString kConsoleLines = QStringLiteral("ServerMessage Lines");

constexpr int kMinIntervalSeconds = 1;
constexpr int kMaxIntervalSeconds = 10;
constexpr int kMinConsoleLines = 1;
constexpr int kMaxConsoleLines = 50000;

// A stored value as a 16-bit integer; nothing when it is not a whole number of that size.
std::optional<std::int16_t> toInt16(const QString& text) {
    bool ok = false;
    const short value = text.trimmed().toShort(&ok);
    if (!ok)
        return std::nullopt;
    return static_cast<std::int16_t>(value);
}

} // namespace

void frmMain::LogUnusableSetting(const QString& key, const QString& stored, const QString& kept) {
    LauncherLogAdd(Now() + QStringLiteral("> Setting \"") + key + QStringLiteral("\" holds \"") +
                   stored + QStringLiteral("\", which cannot be used; keeping ") + kept +
                   QStringLiteral("."));
}

QString frmMain::ReadSetting(const QString& key, const QString& fallback) {
    return services_.settings->GetSetting(kApp, kSection, key, fallback);
}

qint64 frmMain::ReadNumberSetting(const QString& key, qint64 fallback, qint64 low, qint64 high) {
    const QString stored = ReadSetting(key, QString::number(fallback));
    bool ok = false;
    const qint64 value = stored.trimmed().toLongLong(&ok);
    if (ok && value >= low && value <= high)
        return value;
    LogUnusableSetting(key, stored, QString::number(fallback));
    return fallback;
}

// Every step stands alone: a value that cannot be used leaves its control as it was, is named in
// the log, and the next step runs.
void frmMain::LoadSettings() {
    SettingsStore& store = *services_.settings;
    const auto refuse = [this](const QString& key, const QString& stored, const QString& kept) {
        LogUnusableSetting(key, stored, kept);
    };
    const auto loadCheckBox = [&](VbCheckBox* box, const QString& key,
                                  const QString& fallback = QStringLiteral("1")) {
        const QString stored = store.GetSetting(kApp, kSection, key, fallback);
        const std::optional<std::int16_t> value = toInt16(stored);
        if (!value || !box->SetValue(*value))
            refuse(key, stored, QString::number(box->Value()));
    };

    const QString problem = store.ReadProblem(kApp);
    if (!problem.isEmpty())
        LauncherLogAdd(Now() + QStringLiteral("> Cannot read the stored settings: ") + problem +
                       QStringLiteral("; options not found in it keep their defaults."));

    loadCheckBox(chkAutoRestartUse, kAutoRestart);
    loadCheckBox(chkTrayIconUse, kMinimizeToTray);
    loadCheckBox(chkOutputServerMessage, kUpdateServerMessage);
    loadCheckBox(chkLogEverything, kLogToDisk, QStringLiteral("0"));
    LoadStatusSettings(); // where to serve, before the box may start serving
    loadCheckBox(chkSendStatus, kReportStatus, QStringLiteral("0"));

    // An interval outside what the timer accepts is refused as a whole, so that the box never
    // shows a number the timer does not use.
    const QString stored = store.GetSetting(kApp, kSection, kInterval, QStringLiteral("5"));
    const std::optional<std::int16_t> seconds = toInt16(stored);
    if (seconds && *seconds >= kMinIntervalSeconds && *seconds <= kMaxIntervalSeconds)
        txtInterval->setText(QString::number(*seconds));
    else
        refuse(kInterval, stored, txtInterval->text());

    const std::optional<std::int16_t> shown = toInt16(txtInterval->text());
    if (shown)
        vsInterval->SetValue(-*shown);
    LoadCloseRequests();
    LoadCrashBackoffSettings();

    const QString lines = store.GetSetting(kApp, kSection, kConsoleLines,
                                           QString::number(modAPIs::kDefaultConsoleLines));
    bool ok = false;
    const int count = lines.trimmed().toInt(&ok);
    if (ok && count >= kMinConsoleLines && count <= kMaxConsoleLines)
        services_.apis->SetConsoleLineLimit(count);
    else
        refuse(kConsoleLines, lines, QString::number(services_.apis->ConsoleLineLimit()));
    LoadLogSettings();
}

// Writes the four options. A value that cannot be written is reported and the others are still
// written: the exit that calls this must finish whatever happens here.
void frmMain::SaveSettings() {
    SettingsStore& store = *services_.settings;
    const auto save = [&](const QString& key, int value) {
        QString error;
        if (store.SaveSetting(kApp, kSection, key, QString::number(value), &error))
            return;
        const QString line = Now() + QStringLiteral("> Cannot save setting \"") + key +
                             QStringLiteral("\": ") + error;
        LauncherLogAdd(line);
        std::fprintf(stderr, "corvane-launcher: %s\n", qPrintable(line));
    };
    save(kAutoRestart, chkAutoRestartUse->Value());
    save(kMinimizeToTray, chkTrayIconUse->Value());
    save(kUpdateServerMessage, chkOutputServerMessage->Value());
    save(kInterval, -vsInterval->Value());
    save(kLogToDisk, chkLogEverything->Value());
    save(kReportStatus, chkSendStatus->Value());
}
