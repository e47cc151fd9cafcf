#include "CrashReport.h"

#include "CheckedFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

// A report is a few dozen lines; more than this is not one.
constexpr qint64 kMostReportBytes = 1 << 20;

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
    QString why;
    const std::unique_ptr<CheckedFolder> checked = CheckedFolder::Open(folder, false, &why);
    if (!checked) {
        *error = folder + QStringLiteral(": ") + why;
        return QString();
    }
    // A name that is taken, by an earlier report or by anybody, makes way for the next one.
    QFile file;
    const QString name =
        checked->createNew(QStringLiteral("crash-") + facts.fileStem + u'-' + stamp,
                           QStringLiteral(".txt"), file, error);
    if (name.isEmpty())
        return QString();
    const QByteArray bytes = reportText(facts).toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = file.errorString();
        file.close();
        checked->remove(name);
        return QString();
    }
    return folder + u'/' + name;
}

void PruneCrashReports(const QString& folder, const QString& program, int kept) {
    // What follows "crash-<program>-": the time, and the number of a later report of that second.
    static const QRegularExpression stamped(
        QStringLiteral("^(\\d{8}-\\d{6})(?:-(\\d{1,9}))?\\.txt$"));
    const QString prefix = QStringLiteral("crash-") + program + u'-';
    struct Report {
        QString stamp;
        int number;
        QString file;
    };
    std::vector<Report> reports;
    const QDir dir(folder);
    // The prefix as a name filter would have it (in any case), without the pattern that a filter
    // compiles on every listing.
    for (const QString& file : dir.entryList(QDir::Files | QDir::NoSymLinks)) {
        if (!file.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QRegularExpressionMatch match = stamped.match(QStringView(file).mid(prefix.size()));
        if (match.hasMatch())
            reports.push_back({match.captured(1),
                               match.captured(2).isEmpty() ? 1 : match.captured(2).toInt(), file});
    }
    if (static_cast<int>(reports.size()) <= kept)
        return;
    std::sort(reports.begin(), reports.end(), [](const Report& a, const Report& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    });
    QString why;
    const std::unique_ptr<CheckedFolder> checked = CheckedFolder::Open(folder, false, &why);
    if (!checked)
        return;
    for (std::size_t i = 0; i + static_cast<std::size_t>(std::max(kept, 0)) < reports.size(); ++i)
        checked->remove(reports[i].file);
}

bool IsCrashReportName(const QString& name) {
    static const QRegularExpression reportName(
        QStringLiteral("^crash-[^/]+-\\d{8}-\\d{6}(?:-\\d{1,9})?\\.txt$"));
    return reportName.match(name).hasMatch();
}

QList<CrashReportEntry> ListCrashReports(const QString& folder, int count) {
    QString why;
    const std::unique_ptr<CheckedFolder> checked =
        folder.isEmpty() ? nullptr : CheckedFolder::Open(folder, false, &why);
    if (!checked)
        return {};
    QStringList names;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("crash-*.txt")}, QDir::Files))
        if (IsCrashReportName(name))
            names << name;
    // Newest first: by the time in the name, "...-20261207-053012[-2].txt", not by the server.
    static const QRegularExpression stamp(
        QStringLiteral("-(\\d{8}-\\d{6})(?:-(\\d{1,9}))?\\.txt$"));
    const auto key = [](const QString& name) {
        const QRegularExpressionMatch m = stamp.match(name);
        return std::make_pair(m.captured(1), m.captured(2).toInt());
    };
    std::sort(names.begin(), names.end(),
              [&key](const QString& a, const QString& b) { return key(a) > key(b); });
    QList<CrashReportEntry> reports;
    static const QLatin1String heading("Crash report of ");
    for (const QString& name : names.mid(0, count)) {
        QByteArray text;
        QString server;
        if (checked->readAll(name, kMostReportBytes, &text, &why) &&
            text.startsWith(QByteArray(heading.data(), heading.size())))
            server =
                QString::fromUtf8(text.mid(heading.size(), text.indexOf('\n') - heading.size()));
        reports.append({name, server});
    }
    return reports;
}

bool ReadCrashReport(const QString& folder, const QString& name, QString* text, QString* why) {
    if (!IsCrashReportName(name)) {
        *why = QStringLiteral("no such crash report");
        return false;
    }
    const std::unique_ptr<CheckedFolder> checked = CheckedFolder::Open(folder, false, why);
    QByteArray bytes;
    if (!checked || !checked->readAll(name, kMostReportBytes, &bytes, why))
        return false;
    if (bytes.isEmpty()) {
        *why = QStringLiteral("no such crash report");
        return false;
    }
    *text = QString::fromUtf8(bytes);
    return true;
}

QString CrashReportNamedBy(const QString& line, const QString& logsFolder) {
    static const QLatin1String marker("; crash report: ");
    const qsizetype at = line.lastIndexOf(marker);
    if (logsFolder.isEmpty() || at < 0)
        return QString();
    const QString path = line.mid(at + marker.size());
    const QFileInfo report(path);
    if (!report.isAbsolute() || !IsCrashReportName(report.fileName()))
        return QString();
    // Compared as written, so that no ".." or extra slash slips through, and then as the disk has
    // it, so that neither the report nor the folder it is said to be in is a link elsewhere.
    if (QDir::cleanPath(path) != path || report.absolutePath() != QDir::cleanPath(logsFolder))
        return QString();
    if (report.isSymLink() || !report.isFile())
        return QString();
    const QString canonicalFolder = QFileInfo(logsFolder).canonicalFilePath();
    if (canonicalFolder.isEmpty() || report.canonicalPath() != canonicalFolder)
        return QString();
    return path;
}
