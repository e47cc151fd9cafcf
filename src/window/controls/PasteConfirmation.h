#pragma once

#include "PastedLines.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// Asks the operator before a paste of several lines goes to a server's console: which lines, and
// to which server, fixed when the paste was made. Opened with open(), so nothing waits for the
// answer. A paste with a line that cannot go shows why, and offers only Close.
class PasteConfirmation : public QDialog {
    Q_OBJECT
public:
    PasteConfirmation(int server, const QString& serverName, PastedLines paste,
                      QWidget* parent = nullptr);

    QLabel* question() const { return question_; }
    QPlainTextEdit* preview() const { return preview_; }
    // The button that sends the lines; null when they cannot go.
    QPushButton* sendButton() const { return send_; }

signals:
    // The operator chose to send the lines to the server.
    void Send(int server, const PastedLines& paste);

private:
    int server_;
    PastedLines paste_;
    QLabel* question_;
    QPlainTextEdit* preview_;
    QPushButton* send_ = nullptr;
};
