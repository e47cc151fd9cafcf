#pragma once

#include "ScheduleTimes.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

// One [Schedule <name>] section of the installation's file: what is done to which servers, and
// when.
//
//   [Schedule nightly]
//   servers = all                 # or a list: login, char, map
//   task = restart                # restart, command or backup
//   at = 04:00                    # local time; or: cron = */30 * * * *
//   days = mon-fri                # with "at" only; every day when left out
//   warn = 15m say Restart in {minutes} minutes
//   warn = 30s say Restart in {seconds} seconds
//   if missed = skip              # or run
//   [Schedule save]
//   task = command
//   cron = */30 * * * *
//   command = save-all
//
// (Explanations beside keys are for this note only: in the file a comment takes a line of its
// own.) A "warn" line is typed into each of the schedule's running servers that long before the
// time; {minutes}, {seconds} and {server} are filled in. A run more than a few minutes late (the
// machine slept, the launcher was closed, the clock was set on) is a missed run: "if missed"
// says whether it is made up, once, or left out.
struct ScheduleEntry {
    enum class Task { Restart, Command, Backup };
    struct Warning {
        int seconds = 0; // before the time
        QString text;    // with its placeholders
    };

    QString name;
    int line = 0;                                  // of its section's header
    std::array<bool, 3> servers{true, true, true}; // by server index
    std::optional<Task> task;
    std::optional<QTime> at;
    std::optional<std::bitset<7>> days;
    std::optional<ScheduleTimes> cron;
    QString daysText, cronText; // as written
    QString command;
    QList<Warning> warnings; // the earliest first
    bool runIfMissed = false;

    // The moments it runs, once the section is complete.
    ScheduleTimes times;
    // "at 04:00 on mon-fri", "on \"*/30 * * * *\"": for the log.
    QString whenText;

    bool allServers() const { return servers[0] && servers[1] && servers[2]; }
    // How long before its time its first warning is typed; 0 without warnings.
    int leadSeconds() const { return warnings.isEmpty() ? 0 : warnings.first().seconds; }
    // "restart", "command \"save-all\"", "backup".
    QString taskText() const;

    // Applies one "key = value" line of its section; false with the reason when it cannot.
    bool applyKey(const QString& key, const QString& value, QString* why);
    // Completes the entry once its section has been read: why it cannot be used; empty when it can.
    QString finish();

    // The warning's text with {minutes} (rounded up), {seconds} and {server} filled in.
    static QString FillIn(const QString& text, int secondsLeft, const QString& server);
    // "15m", "90s", "1h30m": seconds; nothing when the text is none or over a day.
    static std::optional<int> Offset(const QString& text);
};
