#pragma once

#include <QString>

// Where the launcher writes its own log, the crash reports and, when asked, the servers' output:
// logs/ in the server folder, or, when that cannot be written or is not safe to write in (a link,
// another user's folder, one others may write to), a folder of this server folder's own in the
// user's state folder ($XDG_STATE_HOME, else ~/.local/state).
struct LogFolderChoice {
    QString folder; // empty when no folder can be written
    QString note;   // one log line saying which folder, and why when it is not the first choice
};

// readers: the group that may read the logs ("log group" of the installation's settings); empty:
// nobody but the user. The chosen folder is set up for it, or the note says why it is not.
LogFolderChoice ChooseLogFolder(const QString& serverFolder, const QString& readers = QString());
