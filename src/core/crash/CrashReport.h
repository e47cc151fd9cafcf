#pragma once

#include <QList>
#include <QString>

// What a crash report holds: when, which server, how it ended and its last console lines.
struct CrashFacts {
    QString time;     // as the log shows it
    QString server;   // display name
    QString program;  // path of the program that was running
    QString fileStem; // what the report's name begins with after "crash-": "map-server"
    qint32 pid = 0;
    QString how;       // "exit status 3", "killed by signal 9 (SIGKILL)", or why it is not known
    QString lastLines; // oldest first
    int lineCount = 0; // how many lines were asked for
};

// Writes the report into the folder, under a name of its own made from the file stem and the time
// ("crash-map-server-20261207-053012.txt"). The path written; empty with the reason in *error when
// it could not be written.
QString WriteCrashReport(const QString& folder, const CrashFacts& facts, const QString& stamp,
                         QString* error);

// Removes the oldest crash reports of the program (its file name, "map-server") in the folder
// beyond the newest kept, as told by the time in their names. Only files named as
// WriteCrashReport names them are touched.
void PruneCrashReports(const QString& folder, const QString& program, int kept);

// The crash report a launcher log line names ("...; crash report: <path>" at its end), when that is
// a report this launcher could have written: a file directly in the logs folder, not a link,
// named as WriteCrashReport names reports, and there now. Empty otherwise. Log lines are text
// anybody may have shaped (a folder name, a setting), so nothing else a line names is ever given.
QString CrashReportNamedBy(const QString& line, const QString& logsFolder);

// Whether name is a crash report's as WriteCrashReport names them: "crash-map-server-20261207-
// 053012.txt", no folder.
bool IsCrashReportName(const QString& name);

// A crash report in the logs folder: its file name and the server it is of ("Map Server"; empty
// when its first line does not tell).
struct CrashReportEntry {
    QString name;
    QString server;
};

// The crash reports in the folder, newest first by the time in their names, at most count.
QList<CrashReportEntry> ListCrashReports(const QString& folder, int count);

// The text of the report name in the folder: only a plain file named as a report, never through
// a link, at most 1 MB. False with the reason otherwise.
bool ReadCrashReport(const QString& folder, const QString& name, QString* text, QString* why);
