// Started where no window can be shown, the program says so in one line and exits with 1.
#include <QProcess>
#include <QTest>

class NoDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void exitsWithOneLine_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::newRow("no display named") << QString() << QString();
        QTest::newRow("xcb without DISPLAY") << "xcb" << QString();
        QTest::newRow("display that does not answer") << "xcb"
                                                      << ":65000";
    }
    void exitsWithOneLine() {
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (!platform.isEmpty())
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        if (!display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), display);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(CORVANE_LAUNCHER_DIR "/corvane-launcher"), {});
        QVERIFY(program.waitForFinished(20000));
        const QByteArray errors = program.readAllStandardError();
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(errors.count('\n'), 1);
        QVERIFY2(errors.startsWith("corvane-launcher: cannot show the window: "), errors.data());
    }
};

QTEST_GUILESS_MAIN(NoDisplayTest)
#include "tst_no_display.moc"
