// The operator's actions on the servers, each forwarded to the launcher core.
#include "frmMain.h"

#include "ConsoleCommandLine.h"
#include "MessagePane.h"
#include "TabStrip.h"

void frmMain::cmdServerStart_Click() {
    core_.fleet().StartServersAndGoOnline();
}

void frmMain::cmdServerShutdown_Click() {
    core_.fleet().StopServersAndGoOffline();
}

void frmMain::mnuTrayStartServers_Click() {
    core_.fleet().StartServers();
}

void frmMain::mnuTrayStopServers_Click() {
    core_.fleet().StopServers();
}

void frmMain::conTab_Click() {
    const int tab = conTab->SelectedIndex();
    tab == 4 ? picContainer->raise() : txtOutput->raise();
    core_.ServerTabSelected(tab == 4 ? -1 : tab - 1);
}

void frmMain::txtCommand_Submit(const QString& sText) {
    const ConsoleMirror::CommandOutcome outcome = core_.mirror().SendCommand(sText);
    if (outcome.sent)
        txtCommand->sent(core_.mirror().SelectedServer(), sText);
    else if (!outcome.note.isEmpty())
        txtCommand->setNote(outcome.note);
}

void frmMain::txtCommand_SubmitLines(int server, const PastedLines& paste) {
    const ConsoleMirror::LinesOutcome outcome = core_.mirror().SendLines(server, paste);
    txtCommand->linesSent(server, outcome.sent, outcome.note);
}
