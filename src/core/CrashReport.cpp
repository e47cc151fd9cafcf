#include "CrashReport.h"

#include <QFile>

namespace {

QString reportText(const CrashFacts& facts) {
    QString text;
    text += QStringLiteral("Crash report of ") + facts.server + u'\n';
    text += QStringLiteral("Time: ") + facts.time + u'\n';
    text += QStringLiteral("Program: ") + facts.program + u'\n';
    text += QStringLiteral("Process id: ") + QString::number(facts.pid) + u'\n';
    text += QStringLiteral("How it ended: ") + facts.how + u'\n';
    text += QStringLiteral("\nIts last console lines (up to %1):\n").arg(facts.lineCount);
    text += facts.lastLines;
    if (!text.endsWith(u'\n'))
        text += u'\n';
    return text;
}

} // namespace

QString WriteCrashReport(const QString& folder, const CrashFacts& facts, const QString& stamp,
                         QString* error) {
    const QString program = facts.program.section(u'/', -1);
    const QString base = folder + QStringLiteral("/crash-") + program + u'-' + stamp;
    QString path = base + QStringLiteral(".txt");
    for (int n = 2; QFile::exists(path); ++n)
        path = base + u'-' + QString::number(n) + QStringLiteral(".txt");
    QFile file(path);
    // NewOnly: never written through a file or link that somebody put there meanwhile.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = file.errorString();
        return QString();
    }
    const QByteArray bytes = reportText(facts).toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = file.errorString();
        file.remove();
        return QString();
    }
    return path;
}
