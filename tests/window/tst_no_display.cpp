// Started where no window can be shown, the program says so in one line and exits with 1.
#include "DisplayStartGuard.h"

#include <QProcess>
#include <QTest>

class NoDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void reasons_data() {
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("missing");
        QTest::newRow("nothing set")
            << QByteArray() << QByteArray() << QByteArray() << QStringList() << true;
        QTest::newRow("X") << QByteArray() << QByteArray(":0") << QByteArray() << QStringList()
                           << false;
        QTest::newRow("Wayland") << QByteArray() << QByteArray() << QByteArray("wayland-0")
                                 << QStringList() << false;
        QTest::newRow("xcb without X") << QByteArray("xcb") << QByteArray()
                                       << QByteArray("wayland-0") << QStringList() << true;
        QTest::newRow("wayland, then xcb") << QByteArray("wayland;xcb") << QByteArray(":1")
                                           << QByteArray() << QStringList() << false;
        QTest::newRow("offscreen")
            << QByteArray("offscreen") << QByteArray() << QByteArray() << QStringList() << false;
        QTest::newRow("platform on the command line")
            << QByteArray() << QByteArray() << QByteArray() << QStringList{"-platform", "offscreen"}
            << false;
    }
    void reasons() {
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        QFETCH(QStringList, arguments);
        QFETCH(bool, missing);
        arguments.prepend(QStringLiteral("corvane-launcher"));
        std::vector<QByteArray> bytes;
        std::vector<char*> argv;
        for (const QString& argument : arguments)
            bytes.push_back(argument.toLocal8Bit());
        for (QByteArray& argument : bytes)
            argv.push_back(argument.data());
        auto orNull = [](const QByteArray& value) {
            return value.isNull() ? nullptr : value.constData();
        };
        const char* reason =
            MissingDisplayReason(orNull(platform), orNull(display), orNull(wayland),
                                 static_cast<int>(argv.size()), argv.data());
        QCOMPARE(reason[0] != '\0', missing);
    }

    // The real program, with no display named, and with one that cannot be reached.
    void realProgramExitsWithOneLine_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::newRow("no display") << QString() << QString();
        QTest::newRow("display that does not answer") << "xcb"
                                                      << ":65000";
    }
    void realProgramExitsWithOneLine() {
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
        QVERIFY2(errors.startsWith("corvane-launcher: cannot show the window: "),
                 errors.constData());
        QVERIFY(program.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(NoDisplayTest)
#include "tst_no_display.moc"
