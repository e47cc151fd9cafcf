#pragma once

#include <QString>
#include <functional>

// Settings of the Linux process backend. The defaults suit the installed launcher; tests point
// them at a private tmux socket and at the trampoline in the build tree.
struct LinuxBackendConfig {
    // The tmux client program (looked up in PATH when it holds no '/').
    QString tmuxProgram = QStringLiteral("tmux");

    // The launcher's own tmux socket (tmux -L). Never the operator's default socket.
    QString tmuxSocketName = QStringLiteral("corvane-launcher");

    // The folder that holds the server programs, canonical. Only processes of this installation
    // count as its servers: this user's, whose executable lies in this folder or whose working
    // folder it is. Empty: every process of the machine counts.
    QString serverFolder;

    // The corvane-exec program that tmux runs in each new console.
    QString trampolinePath;

    // Lines of scrollback each server console keeps.
    int historyLimit = 50000;

    // A tmux client that has not finished after this long is killed and counts as failed.
    int tmuxTimeoutMs = 3000;

    // Runs again and again while a tmux command is waited for; the program lets its window
    // events run here. Empty: nothing runs.
    std::function<void()> waitHook;

    // How long a launch waits to hear whether the server program could be executed.
    int execVerdictWaitMs = 40;

    // The defaults for the servers of serverFolder, with a tmux socket of that folder's own and
    // the trampoline found from the running program.
    static LinuxBackendConfig ForInstalledLauncher(const QString& serverFolder);

    // The tmux socket name of a server folder: "corvane-" and a short hash of its canonical path,
    // so that two installations never share their consoles.
    static QString SocketNameForFolder(const QString& canonicalFolder);
};
