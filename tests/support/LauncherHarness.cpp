#include "LauncherHarness.h"

#include "ServerTable.h"

#include <QListWidget>
#include <QRegularExpression>

LauncherHarness::LauncherHarness() {
    LauncherServices services;
    services.apis = &apis;
    services.clock = &clock;
    services.settings = &settings;
    services.launcherFolder = [] { return kFolder; };
    services.trayAvailable = [this] { return trayAvailable; };
    services.endProgram = [this] { ++endProgramCalls; };
    window_ = std::make_unique<frmMain>(services);
}

LauncherHarness::~LauncherHarness() = default;

void LauncherHarness::addServerFiles() {
    for (int i = 0; i < ServerTable::kCount; ++i)
        apis.addFile(programPath(i));
}

QString LauncherHarness::programPath(int server) {
    return kFolder + ServerTable::programFiles()[server];
}

QString LauncherHarness::programName(int server) {
    return ServerTable::programFiles()[server].mid(1);
}

frmMain& LauncherHarness::load() {
    window_->Form_Load();
    return *window_;
}

void LauncherHarness::startAll() {
    window_->cmdServerStart_Click();
}

QStringList LauncherHarness::log() const {
    QStringList lines;
    for (int row = 0; row < window_->lstLog->count(); ++row)
        lines << window_->lstLog->item(row)->text();
    return lines;
}

QStringList LauncherHarness::logTexts() const {
    return logTextsSince(0);
}

QStringList LauncherHarness::logTextsSince(int mark) const {
    // A timestamped line is the date and time (beginning with a digit) directly followed by "> ".
    static const QRegularExpression stamp(QStringLiteral("^\\d[^>]*?(?=> )"));
    QStringList texts;
    const QStringList lines = log();
    for (int i = mark; i < lines.size(); ++i) {
        QString line = lines[i];
        texts << line.remove(stamp);
    }
    return texts;
}

int LauncherHarness::logCount() const {
    return window_->lstLog->count();
}
