#include "BundledFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QStringList>

void registerBundledFonts() {
    const QStringList files{QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"),
                            QStringLiteral("/usr/share/wine/fonts/tahomabd.ttf")};
    for (const QString& file : files) {
        if (QFile::exists(file))
            QFontDatabase::addApplicationFont(file); // -1 on an unreadable file: keep going
    }
}
