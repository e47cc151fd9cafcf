// The launcher log in memory keeps its newest lines, each with its number, and the log list follows
// it as lines come and go; launcher.log on disk keeps every line.
#include "Fakes.h"
#include "LauncherLog.h"
#include "LogLineModel.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class LauncherLogTest : public QObject {
    Q_OBJECT
private slots:
    void theNewestLinesAreKeptAndTheFileHasAll() {
        QTemporaryDir logs;
        FakeClock clock;
        LauncherLog log(clock);
        log.UseLogFolder(logs.path(), QString(), qint64(1) << 30, 1);
        LogLineModel model;
        model.showLines(log.lines());
        connect(&log, &LauncherLog::lineAboutToBeAdded, &model, &LogLineModel::lineAboutToBeAdded);
        connect(&log, &LauncherLog::lineAdded, &model, &LogLineModel::lineAdded);
        connect(&log, &LauncherLog::oldestLineAboutToBeDropped, &model,
                &LogLineModel::oldestLineAboutToBeDropped);
        connect(&log, &LauncherLog::oldestLineDropped, &model, &LogLineModel::oldestLineDropped);

        const qsizetype kept = LauncherLog::kKeptLines, more = 5;
        for (qsizetype i = 0; i < kept; ++i)
            log.LauncherLogAdd(QString::number(i));
        QCOMPARE(log.lines().size(), kept);
        QCOMPARE(log.firstNumber(), 0u);
        // A row the view holds on to (its selection) stays on its line as older lines go.
        const QPersistentModelIndex selected(model.index(int(kept) - 1));
        {
            // The model keeps to what it announces as the lines go (checked at every change).
            QAbstractItemModelTester tester(&model,
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            for (qsizetype i = kept; i < kept + more; ++i)
                log.LauncherLogAdd(QString::number(i));
        }
        QCOMPARE(log.lines().size(), kept);
        QCOMPARE(log.lines().first(), QString::number(more));
        QCOMPARE(log.lines().last(), QString::number(kept + more - 1));
        QCOMPARE(model.rowCount(), int(kept));
        QCOMPARE(model.line(0), QString::number(more));
        QCOMPARE(selected.data().toString(), QString::number(kept - 1));
        QCOMPARE(log.firstNumber(), quint64(more));
        QCOMPARE(log.nextNumber(), quint64(kept + more));

        QCOMPARE(log.linesFrom(kept + more - 2),
                 QStringList({QString::number(kept + more - 2), QString::number(kept + more - 1)}));
        QCOMPARE(log.linesFrom(0), log.lines()); // older than what is kept: all that is
        QVERIFY(log.linesFrom(log.nextNumber()).isEmpty());

        QFile file(logs.path() + "/launcher.log");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> written = file.readAll().split('\n');
        QCOMPARE(written.size(), kept + more + 1); // the last line ends with its break too
        QCOMPARE(written.first(), "0");
        QCOMPARE(written.at(kept + more - 1), QByteArray::number(kept + more - 1));
    }
};

QTEST_GUILESS_MAIN(LauncherLogTest)
#include "tst_launcher_log.moc"
