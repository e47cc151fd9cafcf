#pragma once

#include "SettingsStore.h"

#include <QMap>
#include <QSet>

// Settings held in memory. Keys are "app/section/key"; writes to keys in failingKeys fail.
class FakeSettings : public SettingsStore {
public:
    QMap<QString, QString> values;
    QSet<QString> failingKeys;
    int writes = 0;

    static QString path(const QString& key) {
        return QStringLiteral("CorvaneLauncher/Settings/") + key;
    }

    QString GetSetting(const QString& appName, const QString& section, const QString& key,
                       const QString& defaultValue) override {
        return values.value(appName + '/' + section + '/' + key, defaultValue);
    }
    bool SaveSetting(const QString& appName, const QString& section, const QString& key,
                     const QString& value, QString* error) override {
        ++writes;
        if (failingKeys.contains(key)) {
            if (error)
                *error = QStringLiteral("the store refused it");
            return false;
        }
        values[appName + '/' + section + '/' + key] = value;
        return true;
    }
};
