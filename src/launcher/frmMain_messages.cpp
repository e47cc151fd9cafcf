#include "frmMain.h"

#include "ConsoleFormats.h"
#include "MessagePane.h"
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
// Most coloured stretches the pane keeps (the newest): a colour change on every character of
// every line must not make each refresh cost without bound.
constexpr int kMaxPaneRuns = 20000;

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
        const QString console = services_.apis->GetConsoleColourText(ServerName[server]);
        if (stopCount_ != stopsBefore || (queuedCapture_ >= 0 && queuedCapture_ != server))
            continue;
        queuedCapture_ = -1;
        if (console == lastCapture_)
            continue; // the same console text needs no new reading
        SetOutputStyled(StyledPaneText(console, services_.apis->ConsoleLineLimit(),
                                       kMaxPaneLineChars, kMaxPaneRuns));
        lastCapture_ = console;
    }
    captureRunning_ = false;
}

void frmMain::SetOutputText(const QString& text) {
    SetOutputStyled(StyledText{text, {}});
    lastCapture_.reset();
}

// Replaces the message pane's whole text and colours. An unchanged text leaves the pane alone;
// otherwise the view follows the newest output unless the operator has scrolled up to read, whose
// place is kept.
void frmMain::SetOutputStyled(const StyledText& fresh) {
    if (fresh.text == outputText_ && fresh.runs == outputRuns_)
        return;
    QScrollBar* bar = txtOutput->verticalScrollBar();
    const bool followingEnd = bar->value() >= bar->maximum();
    const int keptPlace = bar->value();
    const bool dark = static_cast<MessagePane*>(txtOutput)->hasDarkBackground();
    const qsizetype overlap = OverlapStart(outputText_, fresh.text);
    const qsizetype kept = overlap < 0 ? 0 : outputText_.size() - overlap;
    if (overlap >= 0 &&
        RunsWithin(outputRuns_, overlap, outputText_.size()) == RunsWithin(fresh.runs, 0, kept)) {
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
        end.insertText(fresh.text.mid(kept), QTextCharFormat());
        ApplyConsoleRuns(document, kept, RunsWithin(fresh.runs, kept, fresh.text.size()), dark);
    } else {
        txtOutput->setCurrentCharFormat(QTextCharFormat()); // a click may have left a colour
        txtOutput->setPlainText(fresh.text);
        ApplyConsoleRuns(txtOutput->document(), 0, fresh.runs, dark);
    }
    outputText_ = fresh.text;
    outputRuns_ = fresh.runs;
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
