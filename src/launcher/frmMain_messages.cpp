#include "frmMain.h"

#include "TabStrip.h"
#include "VbCheckBox.h"
#include "modAPIs.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

void frmMain::ShowServerMessages(std::int16_t index) {
    if (chkOutputServerMessage->Value() == 0)
        return;
    SetOutputText(services_.apis->GetConsoleText(ServerName[index]));
}

// Replaces the message pane's whole text. An unchanged text leaves the pane alone; otherwise the
// view follows the newest output unless the operator has scrolled up to read, whose place is kept.
void frmMain::SetOutputText(const QString& text) {
    if (text == outputText_)
        return;
    QScrollBar* bar = txtOutput->verticalScrollBar();
    const bool followingEnd = bar->value() >= bar->maximum();
    const int keptPlace = bar->value();
    if (!outputText_.isEmpty() && text.startsWith(outputText_)) {
        // A console mostly grows at its end: lay out only what is new.
        QTextCursor end(txtOutput->document());
        end.movePosition(QTextCursor::End);
        end.insertText(text.mid(outputText_.size()));
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
