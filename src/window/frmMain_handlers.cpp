// The operator's actions on the servers, each forwarded to the launcher core.
#include "frmMain.h"

#include "ConsoleCommandLine.h"
#include "MessagePane.h"
#include "PastedLines.h"
#include "TabStrip.h"

void frmMain::cmdServerStart_Click() {
    core_.audit().recordLocal(QStringLiteral("window"), QStringLiteral("start all servers"));
    core_.fleet().StartServersAndGoOnline();
}

void frmMain::cmdServerShutdown_Click() {
    core_.audit().recordLocal(QStringLiteral("window"), QStringLiteral("stop all servers"));
    core_.fleet().StopServersAndGoOffline();
}

void frmMain::mnuTrayStartServers_Click() {
    core_.audit().recordLocal(QStringLiteral("tray"), QStringLiteral("start all servers"));
    core_.fleet().StartServers();
}

void frmMain::mnuTrayStopServers_Click() {
    core_.audit().recordLocal(QStringLiteral("tray"), QStringLiteral("stop all servers"));
    core_.fleet().StopServers();
}

void frmMain::conTab_Click() {
    const int tab = conTab->SelectedIndex();
    tab == 4 ? picContainer->raise() : txtOutput->raise();
    core_.ServerTabSelected(tab == 4 ? -1 : tab - 1);
}

void frmMain::txtCommand_Submit(const QString& sText) {
    const ConsoleMirror::CommandOutcome outcome = core_.mirror().SendCommand(sText);
    const int server = core_.mirror().SelectedServer();
    if (server >= 0)
        core_.audit().recordLocal(
            QStringLiteral("window"),
            QStringLiteral("send %1: %2").arg(core_.fleet().supervisor(server).name(), sText),
            outcome.sent ? QStringLiteral("done") : QStringLiteral("refused: ") + outcome.note);
    if (outcome.sent)
        txtCommand->sent(core_.mirror().SelectedServer(), sText);
    else if (!outcome.note.isEmpty())
        txtCommand->setNote(outcome.note);
}

void frmMain::txtCommand_SubmitLines(int server, const PastedLines& paste) {
    const ConsoleMirror::LinesOutcome outcome = core_.mirror().SendLines(server, paste);
    core_.audit().recordLocal(
        QStringLiteral("window"),
        QStringLiteral("send %1: %2 pasted lines")
            .arg(core_.fleet().supervisor(server).name())
            .arg(paste.lines().size()),
        outcome.note.isEmpty()
            ? QStringLiteral("done")
            : QStringLiteral("%1 sent: %2").arg(outcome.sent.size()).arg(outcome.note));
    txtCommand->linesSent(server, outcome.sent, outcome.note);
}
