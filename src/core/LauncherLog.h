#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class RotatingLogFile;

// The launcher log: every line the launcher tells the operator, in order, kept for the whole run
// and, once a logs folder is known, written to launcher.log there too. A view shows lines() and
// follows lineAboutToBeAdded and lineAdded, between which the list grows by one line.
class LauncherLog : public QObject {
    Q_OBJECT
public:
    explicit LauncherLog(QObject* parent = nullptr);
    ~LauncherLog() override;

    // The local date and time with which log lines and the crash notice begin.
    static QString Now();

    // Adds the complete line as it is: no stamp, prefix or limit of its own. Control characters
    // (a line break, an escape) show as their pictures (U+2400 on).
    void LauncherLogAdd(const QString& sText);
    // Adds a line of the usual form: the date and time, "> ", then the message.
    void note(const QString& message);

    const QStringList& lines() const { return lines_; }

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

private:
    void writeToFile(const QString& text);

    QStringList lines_;
    QString folder_;
    qint64 maxBytes_ = 0;
    int kept_ = 0;
    std::unique_ptr<RotatingLogFile> file_;
    bool fileFailing_ = false; // told once, until a line gets through again
};
