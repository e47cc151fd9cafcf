#pragma once

#include <QList>
#include <QString>

// Which server programs run right now, read from /proc.
namespace census {

// Ids of the running processes whose program is the file at path (also after the file was
// deleted or replaced).
QList<int> RunningFrom(const QString& path);

// Every running process whose program lies in the folder.
QList<int> RunningIn(const QString& folder);

// "pid path" of every running login-, char- or map-server outside the folder, for failure
// messages: another run on this machine can hide a crash from the launcher.
QString StrangersOutside(const QString& folder);

} // namespace census
