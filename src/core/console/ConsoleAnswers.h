#pragma once

#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ConsoleLineWatch.h"
#include "ServerTable.h"

class Clock;
class LauncherLog;
class ClockTimer;
class modAPIs;

// Whether a server's console read what the launcher typed into it. A console whose server reads
// nothing (a server started without its console) still shows what is typed, so only a line the
// server prints in answer tells: the "console answers" pattern of its section. Where one is set,
// a warning, command or save command typed into that console waits for such a line, and the log
// says when none came in time. Off for a server without the pattern.
class ConsoleAnswers : public QObject {
    Q_OBJECT
public:
    static constexpr int kWaitSeconds = 10;
    // Lines of one console waited for at once, besides those whose answer someone waits for.
    static constexpr std::size_t kMaxWaiting = 16;

    ConsoleAnswers(modAPIs& apis, LauncherLog& log, Clock& clock, QObject* parent = nullptr);
    ~ConsoleAnswers() override;

    // The pattern of the server's answers; empty: its console is not checked.
    void setPattern(int server, const QString& pattern);
    bool checks(int server) const { return !patterns_[server].pattern().isEmpty(); }

    // The line was typed into the server's console (a moment ago, before anything it printed
    // since is looked at): an answer is waited for, when the server's console is checked.
    // answered, when given, is told once whether one came in time. False when it is not checked.
    bool typed(int server, const QString& line, std::function<void(bool)> answered = {});

    // Looks at the consoles that owe an answer; runs on a timer of its own while any does.
    void look();

private:
    struct Pending {
        QString line;
        std::int64_t dueMs;
        std::unique_ptr<ConsoleLineWatch> console;
        std::function<void(bool)> answered;
    };

    modAPIs& apis_;
    LauncherLog& log_;
    Clock& clock_;
    std::array<QRegularExpression, ServerTable::kCount> patterns_;
    std::array<std::vector<Pending>, ServerTable::kCount> pending_;
    ClockTimer* tmrLook_;
};
