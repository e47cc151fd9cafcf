#pragma once

#include "LauncherOptions.h"

#include <QHash>
#include <QSet>
#include <QString>

class LauncherLog;
class SettingsStore;
struct LauncherKey;

// The launcher's section of the per-user settings store: the persisted options, read at start-up
// and written at exit, and the keys that are only ever read. A value that cannot be used is named
// in the launcher log.
class LauncherSettings {
public:
    LauncherSettings(SettingsStore& store, LauncherLog& log);

    // The persisted options over the starting ones. Each key stands alone: a missing key gives the
    // key's default, and so does a value that cannot be used, which is named in the log.
    LauncherOptions LoadOptions(const LauncherOptions& starting);
    // Writes the persisted options: the four classic ones, and the two Advanced Features only
    // while those are in use (AdvancedFeaturesOn). A value that cannot be written is named in the
    // log and on standard error, and the others are still written.
    void SaveOptions(const LauncherOptions& options);

    // The operator's opt-ins, each a key of the user's [Settings] that only its menu item writes:
    // "Window Grow" (the window may be resized, and its place is remembered) and "Advanced
    // Features" (their check boxes can be used, and their values are kept).
    static const QString kWindowGrow;
    static const QString kAdvancedFeatures;
    bool OptedIn(const QString& optIn);
    void SetOptIn(const QString& optIn, bool on);
    // The Advanced Features' boxes are in use: as the opt-in says, or, while it was never chosen,
    // when a value of theirs was stored by an earlier version, which keeps working as it did.
    bool AdvancedFeaturesOn();

    // A value of the keys that are only read: the installation's own, else the user's stored
    // one; fallback when neither has it.
    QString Read(const QString& key, const QString& fallback = QString());
    // The same for a key of LauncherKeys.h, with its default; one that only the installation's
    // file may hold is never read from the user's settings.
    QString Read(const LauncherKey& key);
    // The installation's [Launcher] section (lower-case keys), which comes before the user's
    // settings; it must outlive these settings, or be taken back with nullptr.
    void UseInstallation(const QHash<QString, QString>* launcherSection) {
        installation_ = launcherSection;
    }
    // A whole-number value from low to high; any other stored value is named in the log and the
    // fallback is used.
    qint64 ReadNumber(const QString& key, qint64 fallback, qint64 low, qint64 high);
    // The same for a Number key of LauncherKeys.h, with its default and bounds.
    qint64 ReadNumber(const LauncherKey& key);
    // Names a stored value that cannot be used, with what is used instead: once per run, as the
    // keys are read again at every start of the servers.
    void LogUnusable(const QString& key, const QString& stored, const QString& kept);

    // What the launcher keeps for the user beyond the options, such as where its window stood, in
    // a section of its own; empty when nothing is stored. A value that cannot be written is named
    // in the log.
    QString ReadUserValue(const QString& section, const QString& key);
    void SaveUserValue(const QString& section, const QString& key, const QString& value);

private:
    // The user's stored value, which alone holds the persisted options.
    QString ReadStored(const QString& key, const QString& fallback);

    SettingsStore& store_;
    LauncherLog& log_;
    const QHash<QString, QString>* installation_ = nullptr;
    QSet<QString> named_; // key and value of each unusable one named so far
};
