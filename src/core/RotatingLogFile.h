#pragma once

#include <QFile>
#include <QString>

// A log file that is started afresh when it reaches its size limit: the full one becomes name.1,
// name.1 becomes name.2, and so on up to the number kept; older ones are deleted. Each line is
// written at once (no buffer), so that a failure shows at the line that met it.
class RotatingLogFile {
public:
    RotatingLogFile(const QString& path, qint64 maxBytes, int kept);

    // Appends the text and a line end. False, with the reason in *error, when it was not written.
    bool appendLine(const QString& text, QString* error);

    const QString& path() const { return path_; }

private:
    bool open(QString* error);
    void rotate();

    QString path_;
    qint64 maxBytes_;
    int kept_;
    QFile file_;
};
