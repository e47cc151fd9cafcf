#pragma once

#include <QString>

// Where the launcher's own data lies, found from the folder of its program file: beside it (the
// build folder, or a launcher copied next to its servers with launcherdata/), else under the
// install prefix the program was installed to (<prefix>/bin/../share/corvane-launcher/).
QString FindStatusIconFolder(const QString& programFolder);
