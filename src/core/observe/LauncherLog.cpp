#include "LauncherLog.h"

#include "Clock.h"

#include "CommandLineText.h"
#include "RotatingLogFile.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace {

// The locale's long time without its time-zone part: a log line shows the wall clock only.
QString longTimeFormatWithoutZone(const QLocale& locale) {
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(zone);
    return format.trimmed();
}

} // namespace

LauncherLog::LauncherLog(Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

LauncherLog::~LauncherLog() = default;

QString LauncherLog::Now() const {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(clock_.EpochMs());
    static const QString timeFormat = longTimeFormatWithoutZone(locale);
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(now.time(), timeFormat);
}

void LauncherLog::LauncherLogAdd(const QString& sText) {
    if (lines_.size() >= kKeptLines) {
        emit oldestLineAboutToBeDropped();
        lines_.removeFirst(); // constant time: the list keeps the room at its front
        ++firstNumber_;
        emit oldestLineDropped();
    }
    // A line is one line: a line break or an escape sequence from a name, a file or a server's
    // output shows as its picture, as the command line shows one, and forges no line of its own.
    const QString text = CommandLineText::ShowControlCharacters(sText);
    emit lineAboutToBeAdded();
    lines_.append(text);
    emit lineAdded(text);
    writeToFile(text);
}

QStringList LauncherLog::linesFrom(quint64 number) const {
    if (number <= firstNumber_)
        return lines_;
    return number >= nextNumber() ? QStringList() : lines_.mid(qsizetype(number - firstNumber_));
}

void LauncherLog::note(const QString& message) {
    LauncherLogAdd(Now() + QStringLiteral("> ") + message);
}

void LauncherLog::UseLogFolder(const QString& folder, const QString& note, qint64 maxBytes,
                               int kept) {
    folder_ = folder;
    maxBytes_ = maxBytes;
    kept_ = kept;
    if (!note.isEmpty())
        LauncherLogAdd(Now() + note);
    if (folder.isEmpty())
        return;
    file_ =
        std::make_unique<RotatingLogFile>(folder + QStringLiteral("/launcher.log"), maxBytes, kept);
    // The lines logged before the folder was known come first.
    for (const QString& line : std::as_const(lines_))
        writeToFile(line);
}

void LauncherLog::writeToFile(const QString& text) {
    if (!file_)
        return;
    QString error;
    if (file_->appendLine(text, &error)) {
        fileFailing_ = false;
        return;
    }
    if (fileFailing_)
        return;
    fileFailing_ = true;
    note(QStringLiteral("Cannot write the launcher log ") + file_->path() + QStringLiteral(": ") +
         error);
}
