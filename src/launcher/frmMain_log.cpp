#include "frmMain.h"

#include "LogListBox.h"

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

QString frmMain::Now() {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    static const QString timeFormat = longTimeFormatWithoutZone(locale);
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(now.time(), timeFormat);
}

void frmMain::LauncherLogAdd(const QString& sText) {
    lstLog->addItem(sText);
    lstLog->setCurrentRow(lstLog->count() - 1);
    writeLauncherLogLine(sText);
}
