#include "PlayerCounter.h"

#include "ConsoleLineWatch.h"
#include "ConsolePattern.h"
#include "InstallationConfig.h"
#include "ResourceSampler.h"
#include "ServerFleet.h"

#include <algorithm>

PlayerCounter::PlayerCounter(modAPIs& apis, const ServerFleet& fleet,
                             const InstallationConfig& installation, const ResourceSampler& sampler,
                             QObject* parent)
    : QObject(parent), apis_(apis), fleet_(fleet), installation_(installation) {
    connect(&sampler, &ResourceSampler::sampled, this, &PlayerCounter::Look);
}

PlayerCounter::~PlayerCounter() = default;

std::optional<int> PlayerCounter::players(int server) const {
    if (!installation_.servers[server].players.counts())
        return std::nullopt;
    return counting_[server].pid != 0 ? counting_[server].players : 0;
}

void PlayerCounter::Look() {
    for (int i = 0; i < ServerTable::kCount; ++i) {
        Counting& c = counting_[i];
        const ServerProcess& process = fleet_.ServerProc(i);
        // Counted while it is meant to run or being stopped, as its processes are sampled.
        const bool runs = fleet_.supervisor(i).keepsLauncherOnline() && process.lPID > 0 &&
                          !process.hProcess.isNull();
        if (!installation_.servers[i].players.counts() || !runs) {
            c = Counting{};
            continue;
        }
        if (c.pid != process.lPID)
            begin(i, process.lPID);
        QStringList lines = c.console->newLines();
        if (lines.size() > kLinesPerLook)
            lines = lines.mid(lines.size() - kLinesPerLook);
        read(c, lines);
    }
}

// A new process: its console is read from its first line on, and its count starts at 0.
void PlayerCounter::begin(int server, std::int32_t pid) {
    const PlayerRules& rules = installation_.servers[server].players;
    Counting& c = counting_[server];
    c = Counting{};
    c.pid = pid;
    c.console = std::make_unique<ConsoleLineWatch>(apis_, fleet_.supervisor(server).name(),
                                                   ConsoleLineWatch::From::Start);
    // The installation's file was checked as it was read; an empty pattern stays unused.
    if (!rules.count.isEmpty())
        c.count = ConsolePattern::Compile(rules.count);
    else {
        c.joins = ConsolePattern::Compile(rules.joins);
        c.leaves = ConsolePattern::Compile(rules.leaves);
    }
}

void PlayerCounter::read(Counting& c, const QStringList& lines) {
    if (!c.count.pattern().isEmpty()) {
        // The newest line that states a count is the count.
        for (qsizetype i = lines.size() - 1; i >= 0; --i) {
            const QRegularExpressionMatch match = ConsolePattern::Match(c.count, lines[i]);
            bool number = false;
            const int players = match.captured(1).trimmed().toInt(&number);
            if (match.hasMatch() && number && players >= 0 && players <= kMostPlayers) {
                c.players = players;
                return;
            }
        }
        return;
    }
    for (const QString& line : lines) {
        if (ConsolePattern::Match(c.joins, line).hasMatch())
            c.players = std::min(c.players + 1, kMostPlayers);
        else if (ConsolePattern::Match(c.leaves, line).hasMatch())
            c.players = std::max(c.players - 1, 0);
    }
}
