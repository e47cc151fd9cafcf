// What lies around the launcher is broken: no tmux to run, a settings file of garbage or of
// unusable values or in a folder that cannot be written, status icons that cannot be read. The
// launcher starts, uses sound values and says what it could not use. Nothing here runs a server.

#include "EventLoopProbe.h"
#include "FakeApis.h"
#include "FaultLauncher.h"
#include "PictureBox.h"
#include "Platform.h"
#include "QSettingsStore.h"
#include "ServerCensus.h"
#include "TmuxSandbox.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Garbage(int size) {
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((i * 7919 + 13) % 256));
    return bytes;
}

// The real window with the real settings file under a folder of the test and a launcher folder
// of its own; processes are pretend, nothing is started.
struct WindowOnRealFiles {
    explicit WindowOnRealFiles(const QString& settingsFolder, const QString& launcherFolder)
        : clock(CreateSystemClock()), store(settingsFolder) {
        LauncherServices services;
        services.apis = &apis;
        services.clock = clock.get();
        services.settings = &store;
        services.launcherFolder = [launcherFolder] { return launcherFolder; };
        services.trayAvailable = [] { return false; };
        services.endProgram = [this] { ++endProgramCalls; };
        window = std::make_unique<frmMain>(services);
        window->Form_Load();
    }
    QStringList log() const {
        QStringList lines;
        for (int row = 0; row < window->lstLog->count(); ++row)
            lines << window->lstLog->item(row)->text();
        return lines;
    }

    FakeApis apis;
    std::unique_ptr<Clock> clock;
    QSettingsStore store;
    int endProgramCalls = 0;
    std::unique_ptr<frmMain> window;
};

const QString kIconsMissingNote = QStringLiteral("Cannot load the status picture");

} // namespace

class FaultSurroundingsTest : public QObject {
    Q_OBJECT
private slots:
    void noTmuxToRun_data() {
        QTest::addColumn<bool>("missingProgram");
        QTest::newRow("tmux program missing") << true;
        QTest::newRow("PATH without tmux") << false;
    }
    void noTmuxToRun() {
        QFETCH(bool, missingProgram);
        TmuxSandbox sandbox;
        LinuxBackendConfig config = sandbox.config();
        if (missingProgram)
            config.tmuxProgram = sandbox.path("no-such-folder/tmux");
        QDir().mkpath(sandbox.path("empty-bin"));
        ScopedEnv path("PATH", missingProgram ? qgetenv("PATH")
                                              : QFile::encodeName(sandbox.path("empty-bin")));
        LinuxApis apis(config);
        FaultLauncher launcher(sandbox, FaultLauncher::kAwkwardFolderName, &apis);
        QVERIFY(launcher.isReady());
        frmMain& w = launcher.window();
        EventLoopProbe probe;
        const int mark = static_cast<int>(launcher.log().size());

        w.cmdServerStart_Click();
        const QStringList lines = launcher.log().mid(mark);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("> Starting Login Server ..."));
        QCOMPARE(lines[1], "Error Starting Login Server, please see output in Server status");
        QVERIFY2(lines[2].endsWith("> Login Server could not be started: tmux (\"" +
                                   config.tmuxProgram +
                                   "\") could not be run; is it installed and in the PATH?"),
                 qPrintable(lines[2]));
        QCOMPARE(w.ServerProc[0], ServerProcess::failed());
        // The button shows the launcher online all the same, and the stop still works.
        QCOMPARE(w.ServerState, 1);
        w.cmdServerShutdown_Click();
        QCOMPARE(w.ServerState, 0);
        QVERIFY(launcher.log().last().endsWith("> Map Server returned code 0"));
        QVERIFY(census::RunningIn(launcher.folder()).isEmpty());
        QVERIFY(EventLoopProbe::zeroTimerHandledWithin(1000));
        QVERIFY(probe.longestStallMs() < 1000);
    }

    void settingsFiles_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("binary garbage")
            << Garbage(4096) << QStringList{"Cannot read the stored settings: "};
        QTest::newRow("every value unusable")
            << QByteArray("[Settings]\nAutoRestart=7\nMinimizeToTray=yes\nUpdateServerMessage=-1\n"
                          "ServerMessage Update Interval=99\n")
            << QStringList{"\"AutoRestart\" holds \"7\"", "\"MinimizeToTray\" holds \"yes\"",
                           "\"UpdateServerMessage\" holds \"-1\"",
                           "\"ServerMessage Update Interval\" holds \"99\""};
    }
    void settingsFiles() {
        QFETCH(QByteArray, contents);
        QFETCH(QStringList, named);
        QTemporaryDir dir;
        const QString file = dir.filePath("CorvaneLauncher/CorvaneLauncher.ini");
        QVERIFY(WriteFile(file, contents));
        WindowOnRealFiles run(dir.path(), dir.filePath("launcher"));
        frmMain& w = *run.window;

        // Every value that could not be used is named, once.
        for (const QString& text : named)
            QVERIFY2(run.log().filter(text).size() == 1, qPrintable(text));
        // The garbage file gives the defaults; an unusable value leaves its control as it starts.
        const bool garbage = named.size() == 1;
        QCOMPARE(w.chkAutoRestartUse->Value(), garbage ? 1 : 0);
        QCOMPARE(w.chkTrayIconUse->Value(), garbage ? 1 : 0);
        QCOMPARE(w.chkOutputServerMessage->Value(), 1);
        QCOMPARE(w.txtInterval->text(), QStringLiteral("5"));
        QCOMPARE(w.tmrStatusUpdater->interval(), 5000);

        // The exit writes a settings file the next start reads without complaint.
        w.ChangeLauncherState(40);
        QCOMPARE(run.endProgramCalls, 1);
        QCOMPARE(run.log().filter("Cannot save setting").size(), 0);
        WindowOnRealFiles again(dir.path(), dir.filePath("launcher"));
        QCOMPARE(again.log().filter("setting", Qt::CaseInsensitive).size(), 0);
        QCOMPARE(again.window->chkAutoRestartUse->Value(), garbage ? 1 : 0);
        QCOMPARE(again.window->txtInterval->text(), QStringLiteral("5"));
    }

    void settingsFolderThatCannotBeWritten() {
        QTemporaryDir dir;
        // A file stands where the settings folder should be made.
        QVERIFY(WriteFile(dir.filePath("CorvaneLauncher"), "in the way"));
        WindowOnRealFiles run(dir.path(), dir.filePath("launcher"));
        frmMain& w = *run.window;
        QCOMPARE(w.chkAutoRestartUse->Value(), 1);
        w.vsInterval->SetValue(-3);
        w.ChangeLauncherState(40);
        // Each of the four is named, and the exit still ends the program.
        const QStringList refused = run.log().filter("Cannot save setting \"");
        QCOMPARE(refused.size(), 4);
        QVERIFY(refused[0].contains(dir.filePath("CorvaneLauncher/CorvaneLauncher.ini") +
                                    " cannot be written"));
        QCOMPARE(run.endProgramCalls, 1);
    }

    void brokenStatusIcons() {
        QTemporaryDir dir;
        const QString launcherdata = dir.filePath("launcher/launcherdata");
        QFile real(QStringLiteral(CORVANE_SOURCE_DIR "/resources/launcherdata/error.ico"));
        QVERIFY(real.open(QIODevice::ReadOnly));
        QVERIFY(WriteFile(launcherdata + "/off.ico", QByteArray()));
        QVERIFY(WriteFile(launcherdata + "/error.ico", real.read(60))); // cut short
        QVERIFY(QDir().mkpath(launcherdata + "/on.ico"));               // a folder of that name

        WindowOnRealFiles run(dir.path(), dir.filePath("launcher"));
        frmMain& w = *run.window;
        const QStringList named = run.log().filter(kIconsMissingNote);
        QCOMPARE(named.size(), 3);
        for (const char* file : {"off.ico", "on.ico", "error.ico"})
            QVERIFY(!named.filter(launcherdata + "/" + file).isEmpty());
        // Built-in pictures stand in, each state its own.
        for (int state = 0; state < 3; ++state)
            QVERIFY(!w.imgServerStatus[state]->Picture().isNull());
        QVERIFY(w.imgServerStatus[1]->Picture().pixmap(16).toImage() !=
                w.imgServerStatus[2]->Picture().pixmap(16).toImage());
        QVERIFY(EventLoopProbe::zeroTimerHandledWithin(1000));
    }
};

QTEST_MAIN(FaultSurroundingsTest)
#include "tst_faults_surroundings.moc"
