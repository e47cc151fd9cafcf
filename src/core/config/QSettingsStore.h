#pragma once

#include "SettingsStore.h"

// The settings store on QSettings: one INI file per application in the user's configuration
// folder (on Linux ~/.config/<application>/<application>.ini), or under a folder of the caller's.
class QSettingsStore : public SettingsStore {
public:
    // With an empty folder, the user's own configuration folder is used.
    explicit QSettingsStore(QString folder = QString());

    QString GetSetting(const QString& appName, const QString& section, const QString& key,
                       const QString& defaultValue) override;
    bool SaveSetting(const QString& appName, const QString& section, const QString& key,
                     const QString& value, QString* error) override;
    QString ReadProblem(const QString& appName) override;

    // Where the store keeps the values of that application.
    QString FilePath(const QString& appName) const;

private:
    QString folder_;
};
