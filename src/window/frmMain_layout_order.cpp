// Which control lies in front of which, and the order in which Tab moves the keyboard focus.
#include "frmMain.h"

#include "LogListBox.h"
#include "MessagePane.h"
#include "PictureBox.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"
#include "frmMain_layout.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <initializer_list>

namespace {

// Siblings listed front to back: the first listed ends on top.
void stackFrontToBack(std::initializer_list<QWidget*> siblings) {
    for (auto it = std::rbegin(siblings); it != std::rend(siblings); ++it)
        (*it)->raise();
}

} // namespace

void frmMainLayout::applyStacking(frmMain& w) {
    // At creation the options pane lies in front of the tab strip and the message pane behind it.
    stackFrontToBack({w.cmdToTray, w.cmdServerStart, w.cmdServerShutdown, w.picContainer, w.conTab,
                      w.txtOutput, w.imgServerStatus[2], w.imgServerStatus[1],
                      w.imgServerStatus[0]});
    // The auto-restart box overlaps the "Options" frame and must stay clickable.
    stackFrontToBack({w.chkAutoRestartUse, w.chkOutputServerMessage, w.fra[2], w.fra[1], w.fra[0],
                      w.lblCrashNotice});
    stackFrontToBack({w.chkSendStatus, w.chkLogEverything, w.lblText[1]});
    // The seconds boxes and arrows sit over the gap in their row's sentence.
    stackFrontToBack({w.vsKeepIconFor, w.txtKeepIconFor, w.chkTrayIconUse, w.txtInterval,
                      w.vsInterval, w.lblText[2], w.lblText[0]});
}

void frmMainLayout::applyTabOrder(frmMain& w) {
    // Panels, frames, labels and the locked seconds boxes take no focus.
    for (QWidget* passive :
         {static_cast<QWidget*>(w.picContainer), static_cast<QWidget*>(w.fra[0]),
          static_cast<QWidget*>(w.fra[1]), static_cast<QWidget*>(w.fra[2]),
          static_cast<QWidget*>(w.lblText[0]), static_cast<QWidget*>(w.lblText[1]),
          static_cast<QWidget*>(w.lblText[2]), static_cast<QWidget*>(w.lblCrashNotice),
          static_cast<QWidget*>(w.txtInterval), static_cast<QWidget*>(w.txtKeepIconFor)})
        passive->setFocusPolicy(Qt::NoFocus);

    QWidget* const order[] = {
        w.conTab,                 // 0
        w.txtOutput,              // 1
        w.picContainer,           // 2
        w.cmdServerShutdown,      // 3
        w.cmdServerStart,         // 4
        w.fra[0],                 // 5
        w.lstLog,                 // 6
        w.fra[1],                 // 7
        w.lblText[0],             // 8
        w.fra[2],                 // 9
        w.chkLogEverything,       // 10
        w.chkOutputServerMessage, // 11
        w.chkAutoRestartUse,      // 12
        w.cmdToTray,              // 13
        w.vsInterval,             // 14
        w.txtInterval,            // 15
        w.chkSendStatus,          // 16
        w.chkTrayIconUse,         // 17
        w.lblText[1],             // 18
        w.txtKeepIconFor,         // 19
        w.vsKeepIconFor,          // 20
        w.lblText[2],             // 21
        w.lblCrashNotice,         // 22
    };
    // The list keeps every designed tab index; only the controls that take focus are chained.
    QWidget* previous = nullptr;
    for (QWidget* control : order) {
        if (!control->focusProxy() && !(control->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}
