#pragma once

#include "Clock.h"
#include "modAPIs.h"

#include <QString>
#include <memory>

// The one place that knows which operating system the launcher runs on: the build picks the
// implementation file of these factories.

// The process primitives of this operating system, set up for the servers of serverFolder.
std::unique_ptr<modAPIs> CreatePlatformApis(const QString& serverFolder);

// The name of the socket the servers' consoles of serverFolder live on (tmux -L).
QString ConsoleSocketName(const QString& serverFolder);

// The real clock.
std::unique_ptr<Clock> CreateSystemClock();

// A folder of this user's own where every launcher the user starts finds it, whatever its
// environment says (XDG_RUNTIME_DIR, HOME, TMPDIR): under the home folder of the user's account.
// Created private when missing. Empty, with the reason in *error, when it cannot be made or is
// not safe: a link, another user's folder, or one others may enter.
QString PrivateStateFolder(QString* error);
// The user's private folder inside a folder that others share (a runtime or temporary folder):
// corvane-launcher-<uid>, made 0700 when missing. Empty, with the reason, when what stands there is
// a link or another user's: a name anybody could have made first is never taken as it is.
QString PrivateFolderIn(const QString& parentFolder, QString* error);
// A new private folder of a name nobody could have made first, in the temporary folder.
QString UniquePrivateFolder(QString* error);
// The file name of the program a process of this user runs ("corvane-launcherd"); empty when it
// cannot be seen.
QString ProgramNameOfProcess(qint64 pid);
// Who is at the other end of a local socket: "name (uid N)" from the socket's peer credentials;
// "unknown user" when they cannot be read.
QString PeerUserName(qintptr socketDescriptor);
// A line of standard input without its line break: typed at a terminal without being shown (the
// prompt goes to standard error; *typed tells so), or read as it comes when standard input is no
// terminal. False at the end of the input. The terminal shows what is typed again afterwards,
// also when an interrupt ends the program meanwhile.
bool ReadSecretLine(const char* prompt, QByteArray* line, bool* typed = nullptr);
