#pragma once

#include "LauncherOptions.h"

#include <QString>

class LauncherLog;
class SettingsStore;

// The launcher's section of the per-user settings store: the persisted options, read at start-up
// and written at exit, and the keys that are only ever read. A value that cannot be used is named
// in the launcher log.
class LauncherSettings {
public:
    LauncherSettings(SettingsStore& store, LauncherLog& log);

    // The persisted options over the starting ones. Each key stands alone: a missing key gives the
    // key's default, and so does a value that cannot be used, which is named in the log.
    LauncherOptions LoadOptions(const LauncherOptions& starting);
    // Writes the persisted options. A value that cannot be written is named in the log and on
    // standard error, and the others are still written.
    void SaveOptions(const LauncherOptions& options);

    // A stored value of the section; fallback when there is none.
    QString Read(const QString& key, const QString& fallback = QString());
    // A whole-number value from low to high; any other stored value is named in the log and the
    // fallback is used.
    qint64 ReadNumber(const QString& key, qint64 fallback, qint64 low, qint64 high);
    // Names a stored value that cannot be used, with what is used instead.
    void LogUnusable(const QString& key, const QString& stored, const QString& kept);

private:
    SettingsStore& store_;
    LauncherLog& log_;
};
