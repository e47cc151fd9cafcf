#include "ServerFolderChoice.h"

#include "CommandLine.h"
#include "SectionKeys.h"
#include "SettingsStore.h"
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>

namespace {

const QString kApp = QStringLiteral("CorvaneLauncher");
const QString kSection = QStringLiteral("Settings");
const QString kServerFolderKey = QLatin1String(SectionKeys::kServerFolder);

void printLine(std::FILE* stream, const QString& text) {
    std::fprintf(stream, "corvane-launcher: %s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

// Qt's own folder dialog keeps its last folder, history and layout in QtProject.conf in the
// user's configuration folder as it closes, whatever the operator chose; the desktop's dialog may
// keep a list of recent folders. Qt's dialog is used, and for its life the scope it keeps its
// settings in points at a folder that can never be made (under /dev/null), so that it reads
// nothing and writes nothing anywhere: Cancel writes nothing at all, and a choice only the
// launcher's own ServerFolder key.
QString AskForServerFolder(const QString& startIn) {
    const QString userFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStringLiteral("/dev/null/corvane-launcher"));
    QString chosen;
    {
        QFileDialog dialog(nullptr,
                           QStringLiteral("Corvane Launcher: the folder with login-server, "
                                          "char-server and map-server"),
                           startIn);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFiles().value(0);
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userFolder);
    return chosen;
}

ServerFolder ChooseServerFolder(const CommandLine& commandLine, SettingsStore& settings) {
    ServerFolderInputs inputs;
    inputs.serverDirOption = commandLine.serverDir;
    inputs.invokedAs = QCoreApplication::arguments().value(0);
    inputs.searchPath = qEnvironmentVariable("PATH");
    inputs.programFolder = QCoreApplication::applicationDirPath();
    inputs.rememberedFolder = settings.GetSetting(kApp, kSection, kServerFolderKey, QString());

    const ServerFolder result = ResolveServerFolder(inputs, AskForServerFolder);
    if (result.source == ServerFolderSource::Chosen) {
        QString error;
        if (!settings.SaveSetting(kApp, kSection, kServerFolderKey, result.folder, &error))
            printLine(stderr, QStringLiteral("cannot remember the server folder: ") + error);
    }
    return result;
}

int ClaimServerFolder(SingleInstance& instance, const ServerFolder& serverFolder) {
    if (!instance.folderNote().isEmpty())
        printLine(stderr, instance.folderNote());
    switch (instance.claim()) {
    case SingleInstance::Role::First:
        if (!instance.listenError().isEmpty())
            printLine(stderr,
                      QStringLiteral("a later start on %1 cannot reach this launcher "
                                     "(%2): %3")
                          .arg(serverFolder.folder, instance.socketPath(), instance.listenError()));
        return -1;
    case SingleInstance::Role::HandedOver:
        // The launcher without a desktop has no window to bring back.
        if (const QString holder = instance.holder(); holder.startsWith("corvane-launcherd ")) {
            printLine(stderr, QStringLiteral("a launcher already runs on %1: %2; not starting a "
                                             "second one.")
                                  .arg(serverFolder.folder, holder));
            return 1;
        }
        printLine(stdout, QStringLiteral("a launcher already runs on %1; its window was "
                                         "brought to the front.")
                              .arg(serverFolder.folder));
        return 0;
    case SingleInstance::Role::NoAnswer:
        break;
    }
    printLine(stderr, QStringLiteral("a launcher already runs on %1 but does not answer; not "
                                     "starting a second one.")
                          .arg(serverFolder.folder));
    return 1;
}
