#include "LayoutFonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace LayoutFonts {

QFont tahoma(bool bold) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(kPixelSize);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont console() {
    QFont font(QStringLiteral("Lucida Console"));
    font.setFamilies(QStringList{QStringLiteral("Lucida Console"),
                                 QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
    font.setPixelSize(kPixelSize);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}

} // namespace LayoutFonts
