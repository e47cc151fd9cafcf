#pragma once

#include "CommandHistory.h"

#include <QWidget>
#include <array>
#include <functional>

class QLabel;
class QLineEdit;

// A one-line input for typing a command into a server's console, with a note beside it for what
// the operator must know about the last command (that it was not sent, say). Enter hands the
// text on; Up and Down walk what was sent to the console shown, each console its own history and
// its own unsent draft. Control characters show as their visible pictures and are never sent.
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

signals:
    // Enter was pressed with this text in the input.
    void Submit(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* input_;
    QLabel* note_;
    std::array<CommandHistory, kServers> histories_;
    std::array<QString, kServers> drafts_;
    int shown_ = -1;
};
