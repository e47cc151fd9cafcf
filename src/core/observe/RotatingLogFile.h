#pragma once

#include <QFile>
#include <QString>
#include <memory>

class CheckedFolder;

// A log file that is started afresh when it reaches its size limit: the full one becomes name.1,
// name.1 becomes name.2, and so on up to the number kept; older ones are deleted. Each line is
// written at once (no buffer), so that a failure shows at the line that met it. It is written
// only in a folder of the user's own that nobody else may write to, never through a link, and
// is private to the user.
class RotatingLogFile {
public:
    RotatingLogFile(const QString& path, qint64 maxBytes, int kept);
    ~RotatingLogFile();

    // Appends the text and a line end. False, with the reason in *error, when it was not written.
    bool appendLine(const QString& text, QString* error);

    const QString& path() const { return path_; }

private:
    bool open(QString* error);
    void rotate();

    QString path_;
    QString folderPath_;
    QString name_;
    qint64 maxBytes_;
    int kept_;
    std::unique_ptr<CheckedFolder> folder_;
    QFile file_;
};
