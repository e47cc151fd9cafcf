#pragma once

#include <QString>

// The per-user settings store: text values under an application, a section and a key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text, or defaultValue when the key is missing.
    virtual QString GetSetting(const QString& appName, const QString& section, const QString& key,
                               const QString& defaultValue) = 0;

    // Stores the text. Returns false, with a reason in *error, when it could not be written.
    virtual bool SaveSetting(const QString& appName, const QString& section, const QString& key,
                             const QString& value, QString* error) = 0;

    // Why the stored values of that application cannot be read, in words for the log; empty when
    // they can, or when none are stored yet.
    virtual QString ReadProblem(const QString& appName) {
        Q_UNUSED(appName);
        return QString();
    }
};
