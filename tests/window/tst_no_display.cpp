// Started where no window can be shown, the program says so in one line and exits with 1: with no
// platform named, with xcb and no DISPLAY, and with a display that does not answer.
#include <QProcess>
#include <QTest>

class NoDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void exitsWithOneLine() {
        for (const auto& [platform, display] :
             {std::pair{"", ""}, {"xcb", ""}, {"xcb", ":65000"}}) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                environment.remove(QString::fromLatin1(name));
            if (*platform)
                environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
            if (*display)
                environment.insert(QStringLiteral("DISPLAY"), display);
            QProcess program;
            program.setProcessEnvironment(environment);
            program.start(QStringLiteral(CORVANE_LAUNCHER_DIR "/corvane-launcher"), {});
            QVERIFY(program.waitForFinished(20000));
            const QByteArray errors = program.readAllStandardError();
            QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 1 &&
                         errors.count('\n') == 1 &&
                         errors.startsWith("corvane-launcher: cannot show the window: "),
                     qPrintable(QStringLiteral("%1 %2: exit %3, %4")
                                    .arg(platform, display)
                                    .arg(program.exitCode())
                                    .arg(QString::fromLocal8Bit(errors))));
        }
    }
};

QTEST_GUILESS_MAIN(NoDisplayTest)
#include "tst_no_display.moc"
