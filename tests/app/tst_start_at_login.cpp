// --start, and the desktop's autostart entry that starts the launcher with it at login.
#include "AutostartEntry.h"
#include "CommandLine.h"
#include "LauncherHarness.h"
#include "StartOnLaunch.h"

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>

namespace {

QString Key(const QString& path, const QString& key) {
    return QRegularExpression("^" + key + "=(.*)$", QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(ReadFile(path)))
        .captured(1);
}

// The arguments of the entry's Exec line as a desktop reads them: the key file's escape first, then
// the quoting of its arguments and the doubled '%'.
QStringList ReadExec(const QString& path) {
    QString exec = Key(path, "Exec");
    exec.replace("\\\\", "\\"); // the only escape the writer needs (no control characters)
    QStringList arguments{QString()};
    bool inQuotes = false;
    const auto next = [&](qsizetype& i) { return ++i < exec.size() ? exec[i] : QChar(); };
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == u'%' && next(i) != u'%')
            return {"field code"};
        if (c == u'"')
            inQuotes = !inQuotes;
        else if (inQuotes && c == u'\\')
            arguments.last() += next(i);
        else if (!inQuotes && c == u' ')
            arguments << QString();
        else if (!inQuotes && QStringLiteral("\"'\\><~|&;$*?#()`").contains(c))
            return {"unquoted reserved character"};
        else
            arguments.last() += c;
    }
    return inQuotes ? QStringList{"unclosed quote"} : arguments;
}

} // namespace

class StartAtLoginTest : public QObject {
    Q_OBJECT
private slots:
    // Once the window is up the servers start, once, as with the Start button; without --start
    // nothing starts.
    void startStartsTheServersOnce() {
        for (const bool start : {false, true}) {
            LauncherHarness h;
            h.addServerFiles();
            frmMain& w = h.load();
            const CommandLine parsed = ParseCommandLine(
                start ? QStringList{"--server-dir", QDir::tempPath(), "--start"} : QStringList{});
            QVERIFY(parsed.start == start && !parsed.exitNow);
            StartServersWhenUp(w, parsed);
            QCOMPARE(h.apis.count("LaunchServer"), 0); // not before the event loop runs
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            QCOMPARE(h.apis.count("LaunchServer"), start ? 3 : 0);
            QCOMPARE(w.cmdServerStart->isEnabled(), !start);
        }
    }

    // The entry runs the launcher with the folder and --start, whatever the folder's name holds;
    // the tray item ticks when it is there, writes it and takes it away.
    void theAutostartEntryCarriesAnyFolder() {
        QTemporaryDir config;
        ScopedEnv configHome("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString program = "/opt/corvane launcher/bin/corvane-launcher";
        const QString awkward = "/srv/my \"odd\" $HOME 100% `x` back\\slash 'q' ~;#(1)";
        QString error;
        QVERIFY2(AutostartEntry::Write(program, awkward, &error), qPrintable(error));
        const QString path = AutostartEntry::FilePath(awkward);
        QVERIFY2(path.startsWith(config.path() + "/autostart/org.corvane.CorvaneLauncher-") &&
                     path.endsWith(".desktop"), // the only entries a desktop reads
                 qPrintable(path));
        QCOMPARE(ReadExec(path), QStringList({program, "--server-dir", awkward, "--start"}));
        // The desktop skips the entry once the program is gone (uninstalled).
        QCOMPARE(Key(path, "TryExec"), program);
        QCOMPARE(QFile::permissions(path) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser);
        // A name with a line break cannot be carried: nothing is written.
        QVERIFY(!AutostartEntry::Write(program, "/srv/two\nlines", &error) &&
                !AutostartEntry::Exists("/srv/two\nlines"));
        // Gone already: nothing to do.
        QVERIFY(AutostartEntry::Remove(awkward, &error) && !QFile::exists(path) &&
                AutostartEntry::Remove(awkward, &error));

        LauncherHarness h;
        frmMain& w = h.load();
        auto* item = w.findChild<QAction*>("mnuTrayStartAtLogin");
        const QString entry = AutostartEntry::FilePath(LauncherHarness::kFolder);
        QVERIFY(item && item->isCheckable() && item->isEnabled());
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(!item->isChecked());
        item->trigger();
        QCOMPARE(ReadExec(entry).mid(1),
                 QStringList({"--server-dir", LauncherHarness::kFolder, "--start"}));
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList{"> The launcher now starts the servers at login: " + entry});
        QVERIFY(item->isChecked() && QFile::remove(entry)); // taken away behind its back
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(!item->isChecked());
        item->trigger();
        QVERIFY(QFile::exists(entry));
        item->trigger();
        QVERIFY(!item->isChecked() && !QFile::exists(entry));
    }
};

QTEST_MAIN(StartAtLoginTest)
#include "tst_start_at_login.moc"
