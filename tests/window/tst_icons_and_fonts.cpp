// The icon files as Qt reads them, and the Tahoma faces registered at start-up.
#include "BundledFonts.h"
#include "LayoutFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImageReader>
#include <QTest>

namespace {

// Every image in the file, by size.
QMap<int, QImage> readAll(const QString& path) {
    QMap<int, QImage> images;
    QImageReader reader(path);
    const int count = reader.imageCount();
    for (int i = 0; i < count; ++i) {
        reader.jumpToImage(i);
        const QImage image = reader.read();
        if (!image.isNull())
            images.insert(image.width(), image);
    }
    return images;
}

// A point on the lamp's body, clear of its highlight and of any mark.
QColor bodyColour(const QImage& image) {
    return image.pixelColor(image.width() * 3 / 10, image.height() * 6 / 10);
}

} // namespace

class IconsAndFontsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void programIconHasThreeSizes() {
        const QIcon icon(QStringLiteral(":/corvane.ico"));
        QVERIFY(!icon.isNull());
        const QMap<int, QImage> images = readAll(QStringLiteral(":/corvane.ico"));
        QCOMPARE(images.keys(), (QList<int>{16, 32, 48}));
        for (const QImage& image : images) {
            QCOMPARE(image.height(), image.width());
            QVERIFY(image.hasAlphaChannel());
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // rounded corner: see-through
            QVERIFY(qAlpha(image.pixel(image.width() / 2, image.height() / 2)) == 255);
        }
    }

    void statusIcons_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("look"); // "grey", "green" or "red"
        QTest::newRow("offline") << QStringLiteral("off.ico") << QStringLiteral("grey");
        QTest::newRow("online") << QStringLiteral("on.ico") << QStringLiteral("green");
        QTest::newRow("crashed") << QStringLiteral("error.ico") << QStringLiteral("red");
    }
    void statusIcons() {
        QFETCH(QString, name);
        QFETCH(QString, look);
        // Both the committed file and the copy the build puts beside the launcher.
        for (const QString& folder : {QStringLiteral(CORVANE_SOURCE_DIR "/resources/launcherdata"),
                                      QStringLiteral(CORVANE_LAUNCHER_DIR "/launcherdata")}) {
            const QString path = folder + '/' + name;
            QVERIFY2(QFile::exists(path), qPrintable(path));
            QVERIFY(!QIcon(path).isNull());
            const QMap<int, QImage> images = readAll(path);
            QVERIFY(images.contains(16));
            QVERIFY(images.contains(32));
            for (const QImage& image : images) {
                QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
                const QColor c = bodyColour(image);
                if (look == QLatin1String("grey"))
                    QVERIFY(qAbs(c.red() - c.green()) < 16 && qAbs(c.green() - c.blue()) < 16);
                else if (look == QLatin1String("green"))
                    QVERIFY(c.green() > c.red() + 60 && c.green() > c.blue() + 60);
                else
                    QVERIFY(c.red() > c.green() + 60 && c.red() > c.blue() + 60);
            }
        }
    }

    void crashedIconCarriesAnExclamationMark() {
        const QImage image =
            readAll(QStringLiteral(CORVANE_SOURCE_DIR "/resources/launcherdata/error.ico"))
                .value(32);
        QVERIFY(!image.isNull());
        // A white bar runs down the middle of the red lamp.
        const QColor mark = image.pixelColor(16, 12);
        QVERIFY(mark.red() > 230 && mark.green() > 230 && mark.blue() > 230);
    }

    void bundledTahomaIsRegistered() {
        const bool present = QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
        registerBundledFonts();
        registerBundledFonts(); // twice is harmless
        if (!present)
            QSKIP("fonts-wine is not installed here");
        QVERIFY(QFontDatabase::families().contains(QStringLiteral("Tahoma")));
        QCOMPARE(QFontInfo(LayoutFonts::tahoma()).family(), QStringLiteral("Tahoma"));
        QVERIFY(QFontInfo(LayoutFonts::tahoma(true)).bold());
        QCOMPARE(QFontInfo(LayoutFonts::tahoma()).pixelSize(), 11);
    }

    void consoleFontIsFixedWidth() {
        // Measured, not asked: some fixed-width faces do not declare themselves as such.
        const QFontMetrics metrics(LayoutFonts::console());
        QCOMPARE(metrics.horizontalAdvance(u'i'), metrics.horizontalAdvance(u'W'));
        QCOMPARE(metrics.horizontalAdvance(u'.'), metrics.horizontalAdvance(u'm'));
    }
};

QTEST_MAIN(IconsAndFontsTest)
#include "tst_icons_and_fonts.moc"
