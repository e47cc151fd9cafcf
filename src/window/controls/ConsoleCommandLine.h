#pragma once

#include "CommandHistory.h"

#include <QWidget>
#include <array>
#include <functional>

class PastedLines;
class QLabel;
class QLineEdit;

// A one-line input for typing a command into a server's console, with a note beside it for what
// the operator must know about the last command (that it was not sent, say). Enter hands the
// text on; Up and Down walk what was sent to the console shown, each console its own history and
// its own unsent draft. Control characters show as their visible pictures and are never sent.
// A paste or a drop of several lines is not taken as text: the operator is asked first whether
// those lines go to the console shown at that moment (see PastedLines).
class ConsoleCommandLine : public QWidget {
    Q_OBJECT
public:
    static constexpr int kServers = 3;

    explicit ConsoleCommandLine(QWidget* parent = nullptr);

    QLineEdit* input() const { return input_; }
    QLabel* note() const { return note_; }

    // Which console the line types into now: 0 to kServers - 1, or -1 for none.
    std::function<int()> currentServer = [] { return -1; };

    // Shows text beside the input; the empty text takes the note away.
    void setNote(const QString& text);
    // Keeps a line that was sent to that server's console and empties the input.
    void sent(int server, const QString& line);
    // The console shown changed: the input keeps what was typed for each console apart.
    void showServer(int server);
    // Keeps the lines of a paste that were sent to that server's console, and shows the note
    // (the empty note takes it away). What the input holds stays.
    void linesSent(int server, const QStringList& lines, const QString& note);

signals:
    // Enter was pressed with this text in the input.
    void Submit(const QString& text);
    // The operator chose to send a paste of several lines to that server's console.
    void SubmitLines(int server, const PastedLines& paste);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes a paste or a drop of text: true when it was taken here, false when the input takes
    // it as it takes any text. What is dropped lands at the cursor position at (-1: the cursor).
    bool takePaste(const QString& text, int at = -1);
    // The input's own menu, with its Paste going through takePaste.
    void showContextMenu(const QPoint& globalAt);
    // Up or Down walks the history of the console shown: true when the key was taken.
    bool walkHistory(int key);

    QLineEdit* input_;
    QLabel* note_;
    std::array<CommandHistory, kServers> histories_;
    std::array<QString, kServers> drafts_;
    int shown_ = -1;
};
