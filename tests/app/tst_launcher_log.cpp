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
        QStringList all;
        for (qsizetype i = 0; i < kept + more; ++i)
            all << QString::number(i);
        for (const QString& line : all.first(kept))
            log.LauncherLogAdd(line);
        // A row the view holds on to (its selection) stays on its line as older lines go.
        const QPersistentModelIndex selected(model.index(int(kept) - 1));
        {
            // The model keeps to what it announces as the lines go (checked at every change).
            QAbstractItemModelTester tester(&model,
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            for (const QString& line : all.mid(kept))
                log.LauncherLogAdd(line);
        }
        QCOMPARE(log.lines(), all.mid(more));
        QCOMPARE(model.rowCount(), int(kept));
        QCOMPARE(model.line(0), all[more]);
        QCOMPARE(selected.data().toString(), all[kept - 1]);
        QCOMPARE(std::pair(log.firstNumber(), log.nextNumber()),
                 std::pair(quint64(more), quint64(kept + more)));
        QCOMPARE(log.linesFrom(kept + more - 2), all.mid(kept + more - 2));
        QCOMPARE(log.linesFrom(0), log.lines()); // older than what is kept: all that is
        QVERIFY(log.linesFrom(log.nextNumber()).isEmpty());

        QFile file(logs.path() + "/launcher.log");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), (all.join(u'\n') + u'\n').toUtf8());
    }
};

QTEST_GUILESS_MAIN(LauncherLogTest)
#include "tst_launcher_log.moc"
