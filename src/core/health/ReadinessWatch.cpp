#include "ReadinessWatch.h"

#include "ConsoleLineWatch.h"
#include "ConsolePattern.h"
#include "modAPIs.h"

#include <utility>

namespace {

// How often a server that is not ready yet is looked at: its console, or its port.
constexpr std::int64_t kLookMs = 100;
// A connection that has had no answer for this long is given up and another one begun.
constexpr std::int64_t kProbeAnswerMs = 1000;

} // namespace

ReadinessWatch::ReadinessWatch(modAPIs& apis, const QString& title, ProcessHandle process,
                               const ReadinessRule& rule, std::int64_t startedMs)
    : apis_(apis), process_(process), rule_(rule), startedMs_(startedMs), nextLookMs_(startedMs) {
    if (rule_.kind == ReadinessRule::Kind::Line) {
        pattern_ = ConsolePattern::Compile(rule_.pattern);
        // The settle time has passed: what the server printed during it counts too, so the watch
        // begins with an empty console rather than with what is there now.
        console_ = std::make_unique<ConsoleLineWatch>(apis_, title, ConsoleLineWatch::From::Start);
    }
}

ReadinessWatch::~ReadinessWatch() {
    if (probe_ >= 0)
        apis_.EndPortProbe(probe_);
}

ReadinessWatch::Verdict ReadinessWatch::look(std::int64_t nowMs) {
    nextLookMs_ = nowMs + kLookMs;
    if (rule_.kind == ReadinessRule::Kind::Line) {
        for (const QString& line : console_->newLines()) {
            if (ConsolePattern::Match(pattern_, line).hasMatch()) {
                how_ = QStringLiteral("printed \"%1\"").arg(line.trimmed().left(80));
                return Verdict::Ready;
            }
        }
    } else if (rule_.kind == ReadinessRule::Kind::Port && rule_.udp) {
        if (holdsPort()) {
            how_ = QStringLiteral("port %1/udp bound").arg(rule_.port);
            return Verdict::Ready;
        }
    } else if (rule_.kind == ReadinessRule::Kind::Port) {
        if (probe_ >= 0) {
            const modAPIs::PortAnswer answer = apis_.PortProbeAnswer(probe_);
            if (answer == modAPIs::PortAnswer::Accepting) {
                probe_ = -1;
                if (holdsPort()) {
                    how_ = QStringLiteral("port %1 accepting").arg(rule_.port);
                    return Verdict::Ready;
                }
            }
            if (answer == modAPIs::PortAnswer::Refused)
                probe_ = -1;
            if (probe_ >= 0 && nowMs - probeBegunMs_ >= kProbeAnswerMs)
                apis_.EndPortProbe(std::exchange(probe_, -1));
        }
        if (probe_ < 0) {
            probe_ = apis_.BeginPortProbe(rule_.port);
            probeBegunMs_ = nowMs;
        }
    }
    if (nowMs - startedMs_ >= std::int64_t{1000} * rule_.timeoutSeconds)
        return Verdict::NotReady;
    return Verdict::Waiting;
}

bool ReadinessWatch::holdsPort() {
    const modAPIs::PortHolder holder = apis_.PortHolderOf(
        process_, rule_.port, rule_.udp ? modAPIs::PortProtocol::Udp : modAPIs::PortProtocol::Tcp);
    const QString port =
        QString::number(rule_.port) + (rule_.udp ? QLatin1String("/udp") : QLatin1String());
    // A platform that cannot tell whose a TCP port is leaves the connection to tell.
    if (holder == modAPIs::PortHolder::Server ||
        (holder == modAPIs::PortHolder::Unknown && !rule_.udp))
        return true;
    if (holder == modAPIs::PortHolder::Other)
        how_ = QStringLiteral("port %1 held by another program").arg(port);
    else if (holder == modAPIs::PortHolder::Unknown)
        how_ = QStringLiteral("whose port %1 is cannot be told").arg(port);
    else
        how_.clear();
    return false;
}
