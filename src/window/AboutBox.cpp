#include "AboutBox.h"

#include <QMessageBox>

QString AboutText(const AboutFacts& facts) {
    const auto orNone = [](const QString& text) {
        return text.isEmpty() ? QStringLiteral("(none)") : text;
    };
    return QStringLiteral("Corvane Launcher ") + facts.version +
           QStringLiteral("\n\nServer folder: ") + facts.serverFolder +
           QStringLiteral("\ntmux socket: ") + orNone(facts.consoleSocket) +
           QStringLiteral(" (tmux -L ") + orNone(facts.consoleSocket) + u')' +
           QStringLiteral("\nYour settings: ") + orNone(facts.settingsFile) +
           QStringLiteral("\nInstallation settings: ") + facts.installationFile +
           QStringLiteral("\nLogs folder: ") +
           (facts.logsFolder.isEmpty() ? QStringLiteral("(none: the logs are not written to disk)")
                                       : facts.logsFolder);
}

void ShowAboutBox(const AboutFacts& facts, QWidget* parent) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("About Corvane Launcher"),
                                AboutText(facts), QMessageBox::Close, parent);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Shown rather than opened: open() would make it window-modal, holding the window up.
    box->setWindowModality(Qt::NonModal);
    box->show();
}
