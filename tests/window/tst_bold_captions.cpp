// Bold captions are drawn bold: measured on the pixels of each control, not on the font asked for.
#include "BundledFonts.h"
#include "LauncherHarness.h"
#include "VbCheckBox.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

qint64 Ink(QWidget* control) {
    const QImage image = control->grab().toImage();
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ink += 255 - qGray(image.pixel(x, y));
    }
    return ink;
}

// The ink of the caption's letters at that weight: the control drawn with them, less without.
qint64 CaptionInk(QWidget* control, QFont::Weight weight) {
    const char* property = qobject_cast<QGroupBox*>(control) ? "title" : "text";
    const QVariant caption = control->property(property);
    const QFont designed = control->font();
    QFont font = designed;
    font.setWeight(weight);
    control->setFont(font);
    const qint64 with = Ink(control);
    control->setProperty(property, QString());
    const qint64 without = Ink(control);
    control->setProperty(property, caption);
    control->setFont(designed);
    return with - without;
}

} // namespace

class BoldCaptionsTest : public QObject {
    Q_OBJECT

private slots:
    void boldCaptionsDrawHeavierThanRegular() {
        registerBundledFonts();
        LauncherHarness h;
        frmMain& w = h.load();
        for (QWidget* control :
             std::initializer_list<QWidget*>{w.cmdServerStart, w.fra[0], w.fra[1], w.fra[2],
                                             w.chkLogEverything, w.lblCrashNotice}) {
            QVERIFY(control->font().bold());
            const qint64 regular = CaptionInk(control, QFont::Normal);
            const qint64 bold = CaptionInk(control, QFont::Bold);
            // Seen with a bold face that carries regular outlines: the same ink, spread wider.
            QVERIFY2(regular > 0 && bold * 100 >= regular * 125,
                     qPrintable(QStringLiteral("%1: bold %2, regular %3")
                                    .arg(control->objectName())
                                    .arg(bold)
                                    .arg(regular)));
        }
    }
};

QTEST_MAIN(BoldCaptionsTest)
#include "tst_bold_captions.moc"
