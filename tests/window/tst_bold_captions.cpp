// Bold captions are drawn bold: measured on the pixels of each control, not on the font asked for.
#include "BundledFonts.h"
#include "LauncherHarness.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

// How dark the control draws, summed over its pixels.
qint64 Ink(QWidget* control) {
    const QImage image = control->grab().toImage();
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ink += 255 - qGray(image.pixel(x, y));
    }
    return ink;
}

QString Caption(QWidget* control) {
    if (auto* box = qobject_cast<QGroupBox*>(control))
        return box->title();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    return qobject_cast<QAbstractButton*>(control)->text();
}

void SetCaption(QWidget* control, const QString& text) {
    if (auto* box = qobject_cast<QGroupBox*>(control))
        box->setTitle(text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else
        qobject_cast<QAbstractButton*>(control)->setText(text);
}

// The ink of the control drawn with its caption at the given weight, less that of the control
// with no caption at all: the ink of the caption's letters.
qint64 CaptionInk(QWidget* control, QFont::Weight weight) {
    const QFont designed = control->font();
    const QString caption = Caption(control);
    QFont font = designed;
    font.setWeight(weight);
    control->setFont(font);
    const qint64 withCaption = Ink(control);
    SetCaption(control, QString());
    const qint64 without = Ink(control);
    SetCaption(control, caption);
    control->setFont(designed);
    return withCaption - without;
}

} // namespace

class BoldCaptionsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<LauncherHarness> h;

private slots:
    void initTestCase() { registerBundledFonts(); }
    void init() {
        h = std::make_unique<LauncherHarness>();
        h->load();
    }
    void cleanup() { h.reset(); }

    void boldCaptionsDrawHeavierThanRegular_data() {
        QTest::addColumn<QString>("control");
        for (const char* name :
             {"cmdServerStart", "fra(0)", "fra(1)", "fra(2)", "chkLogEverything", "lblCrashNotice"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void boldCaptionsDrawHeavierThanRegular() {
        QFETCH(QString, control);
        auto* widget = h->window().findChild<QWidget*>(control);
        QVERIFY(widget != nullptr);
        QVERIFY(widget->font().bold());
        widget->setEnabled(true);
        const qint64 regular = CaptionInk(widget, QFont::Normal);
        const qint64 bold = CaptionInk(widget, QFont::Bold);
        QVERIFY2(regular > 0, qPrintable(QString::number(regular)));
        // Seen with a bold face that carries regular outlines: the same ink, spread wider.
        QVERIFY2(bold * 100 >= regular * 125,
                 qPrintable(QStringLiteral("bold %1, regular %2").arg(bold).arg(regular)));
    }
};

QTEST_MAIN(BoldCaptionsTest)
#include "tst_bold_captions.moc"
