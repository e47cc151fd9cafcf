#pragma once

#include <QPlainTextEdit>

// A crash report, read-only, in a window of its own. Only a report in the launcher's log folder is
// read: the entry's file name is looked for there, wherever the entry says it was written.
class CrashReportView : public QPlainTextEdit {
    Q_OBJECT
public:
    CrashReportView(const QString& logFolder, const QString& reportFile, QWidget* parent = nullptr);
};
