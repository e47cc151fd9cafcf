#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class Clock;
class RotatingLogFile;

// The launcher log: every line the launcher tells the operator, in order. The newest kKeptLines
// are kept in memory, each with a number that grows by one a line; once a logs folder is known,
// every line is written to launcher.log there too. A view shows lines() and follows
// lineAboutToBeAdded and lineAdded, between which the list grows by one line, and
// oldestLineAboutToBeDropped and oldestLineDropped, between which its first line goes.
class LauncherLog : public QObject {
    Q_OBJECT
public:
    // The clock gives the time that the lines begin with.
    explicit LauncherLog(Clock& clock, QObject* parent = nullptr);
    ~LauncherLog() override;

    // The local date and time, on the launcher's clock, with which log lines and the crash notice
    // begin.
    QString Now() const;

    // Adds the complete line as it is: no stamp, prefix or limit of its own. Control characters
    // (a line break, an escape) show as their pictures (U+2400 on).
    void LauncherLogAdd(const QString& sText);
    // Adds a line of the usual form: the date and time, "> ", then the message.
    void note(const QString& message);

    // As many lines as a crash loop logs in several days at the defaults; a few MB.
    static constexpr qsizetype kKeptLines = 20000;

    const QStringList& lines() const { return lines_; }
    // The number of lines()'s first line; the first line of the run is 0.
    quint64 firstNumber() const { return firstNumber_; }
    // The number the next line will have.
    quint64 nextNumber() const { return firstNumber_ + quint64(lines_.size()); }
    // The kept lines numbered from `number` on: all kept ones when it is older than they are.
    QStringList linesFrom(quint64 number) const;

    // From now on every line also goes to launcher.log in the folder, the earlier lines first; an
    // empty folder writes nothing to disk. The note, when given, is logged first. Files are
    // started afresh at maxBytes, keeping the newest kept older ones.
    void UseLogFolder(const QString& folder, const QString& note, qint64 maxBytes, int kept);
    // The logs folder; empty while nothing is written to disk.
    const QString& folder() const { return folder_; }
    qint64 maxBytes() const { return maxBytes_; }
    int kept() const { return kept_; }

signals:
    void lineAboutToBeAdded();
    void lineAdded(const QString& text);
    void oldestLineAboutToBeDropped();
    void oldestLineDropped();

private:
    void writeToFile(const QString& text);

    Clock& clock_;
    QStringList lines_;
    quint64 firstNumber_ = 0;
    QString folder_;
    qint64 maxBytes_ = 0;
    int kept_ = 0;
    std::unique_ptr<RotatingLogFile> file_;
    bool fileFailing_ = false; // told once, until a line gets through again
};
