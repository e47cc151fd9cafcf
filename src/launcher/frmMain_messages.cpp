#include "frmMain.h"

#include "PaneText.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "modAPIs.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Longest line the pane shows whole; a longer one is cut (a line laid out costs more than its
// length, and nobody reads a megabyte of dots).
constexpr int kMaxPaneLineChars = 4000;

} // namespace

// A capture lets window events run while it waits for the console, so a tick or a tab click may
// ask for another one meanwhile: that request is taken up when the capture under way ends, and
// a capture that a newer request for another server, or a stop, has made stale is not shown.
void frmMain::ShowServerMessages(std::int16_t index) {
    if (chkOutputServerMessage->Value() == 0)
        return;
    queuedCapture_ = index;
    if (captureRunning_)
        return;
    captureRunning_ = true;
    while (queuedCapture_ >= 0) {
        const std::int16_t server = std::exchange(queuedCapture_, std::int16_t{-1});
        const std::uint64_t stopsBefore = stopCount_;
        const QString console = services_.apis->GetConsoleText(ServerName[server]);
        if (stopCount_ != stopsBefore || (queuedCapture_ >= 0 && queuedCapture_ != server))
            continue;
        queuedCapture_ = -1;
        SetOutputText(
            BoundedPaneText(console, services_.apis->ConsoleLineLimit(), kMaxPaneLineChars));
    }
    captureRunning_ = false;
}

// Replaces the message pane's whole text. An unchanged text leaves the pane alone; otherwise the
// view follows the newest output unless the operator has scrolled up to read, whose place is kept.
void frmMain::SetOutputText(const QString& text) {
    if (text == outputText_)
        return;
    QScrollBar* bar = txtOutput->verticalScrollBar();
    const bool followingEnd = bar->value() >= bar->maximum();
    const int keptPlace = bar->value();
    const qsizetype overlap = OverlapStart(outputText_, text);
    if (overlap >= 0) {
        // A console mostly grows at its end, and its first lines scroll out of the bounded tail:
        // drop those and lay out only what is new.
        QTextDocument* document = txtOutput->document();
        const int dropped = static_cast<int>(QStringView(outputText_).left(overlap).count(u'\n'));
        if (dropped > 0) {
            QTextCursor head(document);
            head.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, dropped);
            head.removeSelectedText();
        }
        QTextCursor end(document);
        end.movePosition(QTextCursor::End);
        end.insertText(text.mid(outputText_.size() - overlap));
    } else {
        txtOutput->setPlainText(text);
    }
    outputText_ = text;
    bar->setValue(followingEnd ? bar->maximum() : keptPlace);
}

void frmMain::conTab_Click() {
    const int tab = conTab->SelectedIndex();
    if (tab == 4) {
        picContainer->raise();
        return;
    }
    txtOutput->raise();
    if (ServerState > LauncherState::Offline)
        ShowServerMessages(static_cast<std::int16_t>(tab - 1));
}
