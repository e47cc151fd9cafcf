#pragma once

#include "AlertsConfig.h"
#include "BackupConfig.h"
#include "HealthRules.h"
#include "MemoryLimit.h"
#include "PlayerRules.h"
#include "ScheduleConfig.h"
#include "StopPlan.h"
#include "WebConfig.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// The installation's own settings: corvane-launcher.ini in the server folder, written by the
// operator and only ever read by the launcher, again at every start of the servers. The persisted
// options of the window and the remembered server folder stay in the user's settings file.
//
//   # A comment is a line of its own that begins with # or ;
//   [Launcher]
//   status port = 18731
//   log group = gameops
//   [Map Server]
//   program = bin/map-server
//   arguments = --world "worlds/main world" --port 30000
//   environment = LANG=C.UTF-8
//   working folder = worlds
//   save confirmation = Saved map to
//   stop = signal SIGTERM
//   stop = await save 30
//   stop = await end 60
//   kill after stop = no
//   ready = port 30000 60
//   if not ready = go on
//   probe = port 30000 every 15 misses 3
//   probe = silence 120
//   probe = line Segmentation fault|out of memory
//   expected exit = 0
//   console answers = ^Unknown command|^Saving
//   players = (\d+) players connected
//   memory limit = 800 MB for 5 minutes
//   [Alert ops]
//   url file = /etc/corvane/ops-webhook.url
//   format = discord
//
// A program or folder is taken from the server folder unless it is an absolute path; each
// "environment" and "stop" line adds one variable or one step, in order. A line that cannot be
// used is named with its number and left out; the rest applies. The [Launcher] keys are those of
// LauncherKeys.h; one that turns on a protection and cannot be used refuses every start instead.
// The file is used only when nobody but the operator could have written it (ReadTrustedFile).
struct ServerLaunchConfig {
    QString program;         // as written: relative to the server folder, or absolute
    QStringList arguments;   // the words after the program
    QStringList environment; // NAME=value, over the launcher's own environment
    QString workingFolder;   // as written; empty: the server folder
    QString closeRequest;    // as the "... Close Request" setting takes it; empty: the default
    QString consoleAnswers;  // what the server prints in answer to a typed line; empty: unknown
    std::optional<StopPlan> stopPlan; // when "stop" or "save confirmation" lines are given
    HealthRules health;
    PlayerRules players;     // none: the server has no player count
    MemoryLimit memoryLimit; // off unless given
    BackupConfig backup;     // the "backup ...", "keep backups ..." and "save command" lines
    // Why the server cannot be started as the file says: the first program, arguments,
    // environment or working folder line that cannot be used. Empty when it can.
    QString launchProblem;
};

struct InstallationConfig {
    static constexpr const char* kFileName = "corvane-launcher.ini";

    std::array<ServerLaunchConfig, 3> servers;
    // The [Launcher] section, by key in lower case: the keys the user's settings would hold
    // ("status port", "crashrelaunch burst", ...), which it overrides for this installation.
    QHash<QString, QString> launcher;
    // [Alerts], and one [Alert <name>] section per endpoint.
    AlertsConfig alerts;
    // [Web]: the web panel, off without the section.
    WebConfig web;
    // One [Schedule <name>] section each (see ScheduleConfig.h), complete ones only.
    QList<ScheduleEntry> schedules;
    // What could not be used, one line each: "corvane-launcher.ini line 7: ...".
    QStringList problems;
    // Why no server may be started with this file: it is not to be trusted (see TrustedFile.h),
    // or a key that turns on a protection cannot be used. Empty when they may.
    QString refusal;
    bool found = false; // the file exists

    // Reads the file of the server folder; an absent file is an empty configuration.
    static InstallationConfig Read(const QString& serverFolder);
    // The same from text, named as fileName in the problems.
    static InstallationConfig Parse(const QString& text, const QString& fileName);
};

// The words of a command line as a shell splits them, without expanding anything: blanks separate
// words; '...' keeps everything, "..." everything but \" and \\; a backslash outside quotes keeps
// the next character. Nothing when a quote is left open.
std::optional<QStringList> SplitWords(const QString& line);
