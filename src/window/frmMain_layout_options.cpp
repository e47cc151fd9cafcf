// The options pane inside picContainer: frames "Advanced Features", "Options" and "Launcher
// Messages", the option check boxes, the two seconds rows and the crash notice.
#include "frmMain.h"

#include "GapLabel.h"
#include "LayoutFonts.h"
#include "LogListBox.h"
#include "Twips.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"
#include "frmMain_layout.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace {

// Controls in a frame name their own font: a frame's bold caption font is not theirs.
template <typename Control> Control* placed(Control* control, const char* name, const QRect& at) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(at);
    control->setFont(LayoutFonts::tahoma());
    return control;
}

VbCheckBox* makeCheckBox(QWidget* container, const char* name, const QString& caption,
                         const QRect& at, int value) {
    auto* box = placed(new VbCheckBox(caption, container), name, at);
    box->SetValue(value);
    return box;
}

QLabel* makeLabel(QWidget* container, const char* name, const QString& caption, const QRect& at) {
    auto* label = placed(new QLabel(caption, container), name, at);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QGroupBox* makeFrame(QWidget* container, int index, const QString& caption, const QRect& at) {
    auto* frame = new QGroupBox(caption, container);
    frame->setObjectName(QStringLiteral("fra(%1)").arg(index));
    frame->setGeometry(at);
    frame->setFont(LayoutFonts::tahoma(true));
    return frame;
}

// The sentence of a seconds row; its box and arrows sit over the run of blanks in it.
QLabel* makeSecondsRow(QWidget* container, const char* name, const QString& caption,
                       const QRect& at) {
    return placed(new GapLabel(caption, container), name, at);
}

// A locked box showing a number of seconds; only its scroll bar and the program change it.
QLineEdit* makeSecondsBox(QWidget* container, const char* name, const QString& text,
                          const QRect& at) {
    auto* box = placed(new QLineEdit(text, container), name, at);
    box->setAlignment(Qt::AlignCenter);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setTextMargins(0, 0, 0, 0);
    return box;
}

// A bare pair of arrows holding minus the seconds shown beside it: the upper arrow lowers the
// value, so it raises the number of seconds.
VbScrollBar* makeSecondsBar(QWidget* container, const char* name, int minimum, int maximum,
                            int value, int step, const QRect& at) {
    auto* bar = placed(new VbScrollBar(minimum, maximum, value, step, container), name, at);
    bar->setFocusPolicy(Qt::TabFocus);
    return bar;
}

void buildAdvancedFeatures(frmMain& w, QGroupBox* frame) {
    w.chkSendStatus = makeCheckBox(frame, "chkSendStatus",
                                   QStringLiteral("Report Server Status to CorvaneStatServer"),
                                   Twips::rect(135, 1125, 3480, 240), 0);
    w.chkLogEverything =
        makeCheckBox(frame, "chkLogEverything", QStringLiteral("Log All Server Message To Disk"),
                     Twips::rect(135, 270, 2940, 240), 0);
    w.chkLogEverything->setFont(LayoutFonts::tahoma(true));
    w.lblText[1] = makeLabel(frame, "lblText(1)",
                             QStringLiteral("Route all server message to log file at next server "
                                            "start. Best for diagnostics and debugging. At a "
                                            "cost of some CPU cycles."),
                             Twips::rect(405, 495, 3210, 600));
    w.lblText[1]->setWordWrap(true);
    // Both boxes are in use; the disk-logging explanation reads greyed while its box is clear.
    w.lblText[1]->setEnabled(false);
}

void buildOptions(frmMain& w, QGroupBox* frame) {
    w.vsKeepIconFor =
        makeSecondsBar(frame, "vsKeepIconFor", -60, -5, -10, 5, Twips::rect(2655, 900, 240, 240));
    w.txtKeepIconFor = makeSecondsBox(frame, "txtKeepIconFor", QStringLiteral("10"),
                                      Twips::rect(2250, 900, 420, 240));
    w.chkTrayIconUse = makeCheckBox(frame, "chkTrayIconUse", QStringLiteral("Minimize To tray"),
                                    Twips::rect(135, 540, 2670, 240), 0);
    w.txtInterval = makeSecondsBox(frame, "txtInterval", QStringLiteral("5"),
                                   Twips::rect(2250, 1125, 420, 240));
    w.vsInterval =
        makeSecondsBar(frame, "vsInterval", -10, -1, -5, 1, Twips::rect(2655, 1125, 240, 240));
    // The run of spaces leaves the gap over which the seconds box and its arrows sit.
    w.lblText[2] = makeSecondsRow(frame, "lblText(2)",
                                  QStringLiteral("Keep server crash icon for") + QString(22, u' ') +
                                      QStringLiteral("s."),
                                  Twips::rect(135, 900, 3030, 195));
    w.lblText[0] = makeSecondsRow(frame, "lblText(0)",
                                  QStringLiteral("Update Server Status Every") + QString(19, u' ') +
                                      QStringLiteral("s."),
                                  Twips::rect(135, 1125, 3030, 195));
}

void buildLauncherMessages(frmMain& w, QGroupBox* frame) {
    // Single selection, unsorted: lines stay in the order in which they are added.
    w.lstLog = placed(new LogListBox(frame), "lstLog", Twips::rect(135, 270, 6900, 1395));
}

} // namespace

void frmMainLayout::buildOptionsPane(frmMain& w) {
    QWidget* pane = w.picContainer;
    w.chkAutoRestartUse =
        makeCheckBox(pane, "chkAutoRestartUse", QStringLiteral("Restart Crashed Server"),
                     Twips::rect(4005, 315, 2490, 285), 0);
    w.chkOutputServerMessage = makeCheckBox(pane, "chkOutputServerMessage",
                                            QStringLiteral("Automatic Server Message Update"),
                                            Twips::rect(4365, 3420, 2805, 240), 1);
    w.fra[2] =
        makeFrame(pane, 2, QStringLiteral("Advanced Features"), Twips::rect(0, 45, 3795, 1455));
    w.fra[1] = makeFrame(pane, 1, QStringLiteral("Options"), Twips::rect(3870, 45, 3255, 1455));
    w.fra[0] =
        makeFrame(pane, 0, QStringLiteral("Launcher Messages"), Twips::rect(0, 1530, 7170, 1815));

    w.lblCrashNotice = makeLabel(pane, "lblCrashNotice", QStringLiteral("Server Crash! at ..."),
                                 Twips::rect(0, 3420, 4290, 240));
    w.lblCrashNotice->setFont(LayoutFonts::tahoma(true));
    QPalette red = w.lblCrashNotice->palette();
    red.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0x00));
    w.lblCrashNotice->setPalette(red);
    w.lblCrashNotice->hide();

    buildAdvancedFeatures(w, w.fra[2]);
    buildOptions(w, w.fra[1]);
    buildLauncherMessages(w, w.fra[0]);
}
