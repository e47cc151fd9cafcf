#include "BundledFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>

namespace {

const QString kRegularFile = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
const QString kBoldFile = QStringLiteral("/usr/share/wine/fonts/tahomabd.ttf");

// How much of the page a glyph's outline covers, drawn large enough to tell strokes apart.
qint64 InkOf(const QString& file, QChar letter) {
    const QRawFont font(file, 64);
    if (!font.isValid())
        return 0;
    const QList<quint32> glyphs = font.glyphIndexesForString(QString(letter));
    if (glyphs.isEmpty())
        return 0;
    QImage page(96, 96, QImage::Format_Grayscale8);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.translate(8, 80); // the baseline
    painter.fillPath(font.pathForGlyph(glyphs.first()), Qt::black);
    painter.end();
    qint64 ink = 0;
    for (int y = 0; y < page.height(); ++y) {
        const uchar* row = page.constScanLine(y);
        for (int x = 0; x < page.width(); ++x)
            ink += 255 - row[x];
    }
    return ink;
}

// Some packaged bold faces carry the regular outlines with bold spacing: Qt would pick such a face
// for bold text and draw it at regular weight. Without it, Qt emboldens the regular face itself.
bool DrawsBolderThan(const QString& boldFile, const QString& regularFile) {
    const qint64 regular = InkOf(regularFile, u'H');
    return regular > 0 && InkOf(boldFile, u'H') * 100 >= regular * 115;
}

} // namespace

void registerBundledFonts() {
    if (!QFile::exists(kRegularFile))
        return;
    QFontDatabase::addApplicationFont(kRegularFile); // -1 on an unreadable file: keep going
    if (QFile::exists(kBoldFile) && DrawsBolderThan(kBoldFile, kRegularFile))
        QFontDatabase::addApplicationFont(kBoldFile);
}
