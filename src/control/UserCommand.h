#pragma once

#include <QStringList>

// corvanectl's user verbs: the web panel's accounts of the installation of serverFolder, managed
// in the launcher's state folder without asking a running launcher.
//   user list
//   user add NAME [--role viewer|operator|admin]   (viewer when not given)
//   user passwd NAME
//   user remove NAME
//   user totp NAME on|off   (on: a new key for an authenticator app and new recovery codes)
// A password is typed twice at a terminal without being shown, or read as the first line of
// standard input. The exit status is corvanectl's: 0 done, 1 refused or failed, 2 usage.
int RunUserCommand(const QString& serverFolder, QStringList arguments);
