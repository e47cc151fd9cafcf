#include "QSettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

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
    // A file that QSettings could not parse is written anew all the same, yet the status still
    // tells of the old contents: what counts is whether the file now reads back sound.
    if (settings.status() == QSettings::FormatError && ReadProblem(appName).isEmpty() &&
        QSettings(path, QSettings::IniFormat).value(section + QLatin1Char('/') + key) == value)
        return true;
    if (error)
        *error = settings.status() == QSettings::AccessError
                     ? QStringLiteral("%1 cannot be written").arg(path)
                     : QStringLiteral("%1 is not a readable settings file").arg(path);
    return false;
}

// QSettings reads a broken file as an empty one without a word: a file that is not text, or
// that QSettings itself calls broken, is named here instead.
QString QSettingsStore::ReadProblem(const QString& appName) {
    const QString path = FilePath(appName);
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    if (!info.isFile())
        return QStringLiteral("%1 is not a file").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    const bool notText = utf8.hasError() || text.contains(QChar(0));
    const QSettings settings(path, QSettings::IniFormat);
    if (notText || settings.status() != QSettings::NoError)
        return QStringLiteral("%1 is not a readable settings file").arg(path);
    return QString();
}
