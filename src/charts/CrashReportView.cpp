#include "CrashReportView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>

namespace {

// A report is a few dozen lines; more than this is not one.
constexpr qint64 kMostBytes = 1 << 20;

QString ReadReport(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("The crash report ") + path + QStringLiteral(" cannot be read: ") +
               (QFileInfo::exists(path) ? file.errorString() : QStringLiteral("it is gone.")) +
               u'\n';
    return QString::fromUtf8(file.read(kMostBytes));
}

} // namespace

CrashReportView::CrashReportView(const QString& logFolder, const QString& reportFile,
                                 QWidget* parent)
    : QPlainTextEdit(parent) {
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("crashReportView"));
    const QString name = QFileInfo(reportFile).fileName();
    setWindowTitle(name + QStringLiteral(" - Corvane Launcher"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setPlainText(logFolder.isEmpty() ? QStringLiteral("No logs folder is in use.\n")
                                     : ReadReport(QDir(logFolder).filePath(name)));
    resize(640, 420);
}
