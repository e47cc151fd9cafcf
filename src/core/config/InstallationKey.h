#pragma once

#include <QString>

// A short name for the installation of serverFolder, the same for every spelling of the folder
// (a link, a trailing separator): 16 hexadecimal digits. Files of the launcher's own that belong to
// one installation are named after it.
QString InstallationKey(const QString& serverFolder);
