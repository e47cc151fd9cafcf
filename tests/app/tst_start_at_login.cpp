// --start, and the desktop's autostart entry that starts the launcher with it at login.
#include "AutostartEntry.h"
#include "CommandLine.h"
#include "LauncherHarness.h"
#include "SingleInstance.h"
#include "StartOnLaunch.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>

namespace {

// An Exec line as a desktop reads it: the key file's escapes first, then the quoting of its
// arguments and the doubled '%'.
QStringList ReadExec(const QString& value) {
    QString exec;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const QChar c = value[++i];
            exec += c == u's'   ? QChar(u' ')
                    : c == u'n' ? QChar(u'\n')
                    : c == u't' ? QChar(u'\t')
                                : c;
        } else {
            exec += value[i];
        }
    }
    QStringList arguments;
    QString current;
    bool inQuotes = false, any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == u'%') {
            if (i + 1 >= exec.size() || exec[i + 1] != u'%')
                return {"field code in " + exec};
            current += u'%';
            ++i;
            any = true;
        } else if (inQuotes && c == u'\\' && i + 1 < exec.size()) {
            current += exec[++i];
        } else if (c == u'"') {
            inQuotes = !inQuotes;
            any = true;
        } else if (!inQuotes && c == u' ') {
            if (any)
                arguments << current;
            current.clear();
            any = false;
        } else if (!inQuotes && QStringLiteral("\"'\\><~|&;$*?#()`").contains(c)) {
            return {"unquoted reserved character in " + exec};
        } else {
            current += c;
            any = true;
        }
    }
    if (inQuotes)
        return {"unclosed quote in " + exec};
    if (any)
        arguments << current;
    return arguments;
}

QString ExecLine(const QString& path) {
    const QStringList lines = QString::fromUtf8(ReadFile(path)).split(u'\n');
    const QStringList exec = lines.filter(QRegularExpression("^Exec="));
    return exec.size() == 1 ? exec.first().mid(5) : QString();
}

} // namespace

class StartAtLoginTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    }

    void startIsParsed() {
        QVERIFY(ParseCommandLine({"--start"}).start);
        QVERIFY(!ParseCommandLine({}).start);
        const CommandLine both = ParseCommandLine({"--server-dir", QDir::tempPath(), "--start"});
        QVERIFY(both.start && !both.exitNow && both.serverDir == QDir::tempPath());
        QVERIFY(ParseCommandLine({"--help"}).output.contains("--start"));
        QCOMPARE(ParseCommandLine({"--start=yes"}).exitCode, 2);
    }

    // Once the window is up the servers start, once, as with the Start button; without --start
    // nothing starts. A second launcher on the folder, with --start too, only brings the window
    // back: nothing is started again.
    void startStartsTheServersOnce() {
        for (const bool start : {false, true}) {
            LauncherHarness h;
            h.addServerFiles();
            frmMain& w = h.load();
            const QStringList arguments = start ? QStringList{"--start"} : QStringList{};
            StartServersWhenUp(w, ParseCommandLine(arguments));
            QCOMPARE(h.apis.count("LaunchServer"), 0); // not before the event loop runs
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            QCOMPARE(h.apis.count("LaunchServer"), start ? 3 : 0);
            QCOMPARE(w.cmdServerStart->isEnabled(), !start);

            QTemporaryDir runtime, servers;
            SingleInstance first(servers.path(), runtime.path());
            QCOMPARE(first.claim(), SingleInstance::Role::First);
            QObject::connect(&first, &SingleInstance::raiseRequested, &w,
                             &frmMain::BringWindowBack);
            SingleInstance second(servers.path(), runtime.path());
            QCOMPARE(second.claim(), SingleInstance::Role::HandedOver);
            QCoreApplication::processEvents();
            QCOMPARE(h.apis.count("LaunchServer"), start ? 3 : 0);
        }
    }

    // The entry runs the launcher with the folder and --start, whatever the folder's name holds;
    // the tray item ticks when it is there, writes it and takes it away.
    void theAutostartEntryCarriesAnyFolder() {
        const QString program = "/opt/corvane launcher/bin/corvane-launcher";
        const QString awkward = "/srv/my \"odd\" $HOME 100% `x` back\\slash 'q' ~;#(1)";
        QString error;
        QVERIFY2(AutostartEntry::Write(program, awkward, &error), qPrintable(error));
        const QString path = AutostartEntry::FilePath(awkward);
        QVERIFY(path.startsWith(config_.path() + "/autostart/org.corvane.CorvaneLauncher-"));
        QVERIFY(path.endsWith(".desktop"));
        QCOMPARE(ReadExec(ExecLine(path)),
                 QStringList({program, "--server-dir", awkward, "--start"}));
        QCOMPARE(QFile::permissions(path) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser);
        // Another folder has an entry of its own.
        QVERIFY(AutostartEntry::FilePath("/srv/other") != path);
        // A name with a line break cannot be carried: nothing is written.
        QVERIFY(!AutostartEntry::Write(program, "/srv/two\nlines", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!AutostartEntry::Exists("/srv/two\nlines"));
        QVERIFY(AutostartEntry::Remove(awkward, &error));
        QVERIFY(!QFile::exists(path));
        QVERIFY(AutostartEntry::Remove(awkward, &error)); // gone already: nothing to do

        LauncherHarness h;
        frmMain& w = h.load();
        auto* item = w.findChild<QAction*>("mnuTrayStartAtLogin");
        QVERIFY(item && item->isCheckable() && item->isEnabled());
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(!item->isChecked());
        item->trigger();
        const QString entry = AutostartEntry::FilePath(LauncherHarness::kFolder);
        QVERIFY(item->isChecked() && QFile::exists(entry));
        QCOMPARE(ReadExec(ExecLine(entry)),
                 QStringList({"/usr/bin/corvane-launcher", "--server-dir", LauncherHarness::kFolder,
                              "--start"}));
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList{"> The launcher now starts the servers at login: " + entry});
        QFile::remove(entry); // taken away behind the launcher's back
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(!item->isChecked());
        item->trigger();
        QVERIFY(QFile::exists(entry));
        item->trigger();
        QVERIFY(!item->isChecked() && !QFile::exists(entry));
    }

private:
    QTemporaryDir config_;
};

QTEST_MAIN(StartAtLoginTest)
#include "tst_start_at_login.moc"
