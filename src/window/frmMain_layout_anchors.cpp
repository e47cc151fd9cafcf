// How the window's controls follow its size. The console pane, the options pane and the launcher
// log take what the window gains; the buttons keep their places against the bottom-right corner;
// everything else stays where it was designed against its container's top-left corner.
#include "frmMain.h"

#include "ControlAnchors.h"
#include "LogListBox.h"
#include "MessagePane.h"
#include "PictureBox.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "frmMain_layout.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

void frmMainLayout::applyAnchors(frmMain& w) {
    constexpr Qt::Edges kGrows = Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge;
    constexpr Qt::Edges kBottomRight = Qt::RightEdge | Qt::BottomEdge;
    constexpr Qt::Edges kBottomLeft = Qt::LeftEdge | Qt::BottomEdge;
    auto* anchors = new ControlAnchors(&w);
    for (QWidget* pane :
         {static_cast<QWidget*>(w.conTab), static_cast<QWidget*>(w.txtOutput), w.picContainer})
        anchors->anchor(pane, kGrows);
    // The hidden tray button too, so that it stays out of sight below the client area.
    for (QWidget* button : {w.cmdServerStart, w.cmdServerShutdown, w.cmdToTray})
        anchors->anchor(button, kBottomRight);
    for (QWidget* image : w.imgServerStatus)
        anchors->anchor(image, kBottomLeft);
    // In the options pane: the log's frame and the log grow, the row below them follows the
    // bottom edge, the two frames above keep their places.
    anchors->anchor(w.fra[0], kGrows);
    anchors->anchor(w.lstLog, kGrows);
    anchors->anchor(w.lblCrashNotice, kBottomLeft);
    anchors->anchor(w.chkOutputServerMessage, kBottomRight);
}
