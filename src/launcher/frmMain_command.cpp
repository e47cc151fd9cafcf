// The command line under a server's console: what the operator types there goes into that
// server's console as if typed at the console itself.
#include "frmMain.h"

#include "ConsoleCommandLine.h"
#include "TabStrip.h"
#include "modAPIs.h"

#include <QTimer>

namespace {

// A server takes a moment to answer a command: the pane looks again after this long.
constexpr int kAnswerWaitMs = 250;

} // namespace

void frmMain::txtCommand_Submit(const QString& sText) {
    const int server = conTab->SelectedIndex() - 1;
    if (sText.isEmpty() || server < 0 || server >= ServerTable::kCount)
        return;
    const ServerProcess& record = ServerProc[server];
    const bool running = ServerState > LauncherState::Offline && record.lPID > 0 &&
                         services_.apis->ProcessRunsProgram(record.hProcess, record.sExePath);
    if (!running) {
        txtCommand->setNote(ServerName[server] + QStringLiteral(" is not running: nothing sent"));
        return;
    }
    if (services_.apis->SendConsoleInput(ServerName[server], sText) == 0) {
        txtCommand->setNote(ServerName[server] + QStringLiteral(" did not take the command"));
        return;
    }
    txtCommand->sent(server, sText);
    // The console shows the command at once and the answer a little later.
    const auto refresh = [this, server] {
        if (ServerState > LauncherState::Offline && conTab->SelectedIndex() - 1 == server)
            ShowServerMessages(static_cast<std::int16_t>(server));
    };
    refresh();
    QTimer::singleShot(kAnswerWaitMs, this, refresh);
}
