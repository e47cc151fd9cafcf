#pragma once

#include <QString>

// The desktop's autostart entry that starts this launcher, for one server folder, at login:
// org.corvane.CorvaneLauncher-<hash of the folder>.desktop in $XDG_CONFIG_HOME/autostart (else
// ~/.config/autostart), which runs "<program> --server-dir <folder> --start".
namespace AutostartEntry {

// The entry's file for the server folder.
QString FilePath(const QString& serverFolder);

// One argument as an Exec line of a desktop entry holds it: quoted when it has to be, with the
// characters the quoting and the key file's own escapes reserve escaped, and '%' doubled.
QString ExecArgument(const QString& argument);

// The whole entry. Empty when the program or the folder holds a character an Exec line cannot
// carry (a line break or another control character).
QString Text(const QString& program, const QString& serverFolder);

bool Exists(const QString& serverFolder);

// Writes the entry (the whole file at once, readable by the user only) or removes it. False with
// the reason in *error when that could not be done.
bool Write(const QString& program, const QString& serverFolder, QString* error);
bool Remove(const QString& serverFolder, QString* error);

} // namespace AutostartEntry
