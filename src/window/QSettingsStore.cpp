#include "QSettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

QSettingsStore::QSettingsStore(QString folder) : folder_(std::move(folder)) {}

QString QSettingsStore::FilePath(const QString& appName) const {
    const QString base =
        folder_.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                          : folder_;
    return base + QLatin1Char('/') + appName + QLatin1Char('/') + appName + QStringLiteral(".ini");
}

QString QSettingsStore::GetSetting(const QString& appName, const QString& section,
                                   const QString& key, const QString& defaultValue) {
    QSettings settings(FilePath(appName), QSettings::IniFormat);
    return settings.value(section + QLatin1Char('/') + key, defaultValue).toString();
}

bool QSettingsStore::SaveSetting(const QString& appName, const QString& section, const QString& key,
                                 const QString& value, QString* error) {
    const QString path = FilePath(appName);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(section + QLatin1Char('/') + key, value);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    if (error)
        *error = settings.status() == QSettings::AccessError
                     ? QStringLiteral("%1 cannot be written").arg(path)
                     : QStringLiteral("%1 is not a readable settings file").arg(path);
    return false;
}
