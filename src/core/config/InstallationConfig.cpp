#include "InstallationConfig.h"

#include "ConsolePattern.h"
#include "LauncherKeys.h"
#include "PlayersAndMemoryKeys.h"
#include "SectionKeys.h"
#include "ServerTable.h"
#include "TrustedFile.h"

#include <QRegularExpression>
#include <csignal>
#include <cstring>

namespace {

QString Lower(const QString& text) {
    return text.trimmed().toLower();
}

// The signal of a name such as "SIGTERM" or "TERM"; 0 when it names none.
int SignalNamed(const QString& name) {
    QString bare = name.trimmed().toUpper();
    if (bare.startsWith(QLatin1String("SIG")))
        bare = bare.mid(3);
    for (int signal = 1; signal < NSIG; ++signal) {
        const char* abbrev = sigabbrev_np(signal);
        if (abbrev != nullptr && bare == QLatin1String(abbrev))
            return signal;
    }
    return 0;
}

// One stop step as written: "close request", "console <line>", "signal <name>",
// "await line <seconds> <pattern>", "await save <seconds>", "await end <seconds>".
std::optional<StopStep> ParseStep(const QString& text, QString* why) {
    using Kind = StopStep::Kind;
    const QString value = text.trimmed();
    const QString word = value.section(u' ', 0, 0).toLower();
    const QString rest = value.section(u' ', 1).trimmed();
    if (Lower(value) == QLatin1String("close request"))
        return StopStep{Kind::CloseRequest, {}, 0, 0};
    if (word == QLatin1String("console")) {
        if (rest.isEmpty()) {
            *why = QStringLiteral("\"console\" needs the line to type");
            return std::nullopt;
        }
        return StopStep{Kind::Console, rest, 0, 0};
    }
    if (word == QLatin1String("signal")) {
        const int signal = SignalNamed(rest);
        if (signal == 0) {
            *why = QStringLiteral("\"%1\" names no signal").arg(rest);
            return std::nullopt;
        }
        return StopStep{Kind::Signal, {}, signal, 0};
    }
    if (word == QLatin1String("await")) {
        const QString what = rest.section(u' ', 0, 0).toLower();
        bool ok = false;
        const int seconds = rest.section(u' ', 1, 1).toInt(&ok);
        const QString pattern = rest.section(u' ', 2).trimmed();
        if (!ok || seconds < 0 || seconds > 86400) {
            *why = QStringLiteral("\"await\" needs a number of seconds (0 to 86400) after \"%1\"")
                       .arg(what);
            return std::nullopt;
        }
        if (what == QLatin1String("end") && pattern.isEmpty())
            return StopStep{Kind::AwaitEnd, {}, 0, seconds};
        if (what == QLatin1String("save") && pattern.isEmpty())
            return StopStep{Kind::AwaitSave, {}, 0, seconds};
        if (what == QLatin1String("line") && QRegularExpression(pattern).isValid() &&
            !pattern.isEmpty())
            return StopStep{Kind::AwaitLine, pattern, 0, seconds};
        *why = QStringLiteral("\"await\" takes \"end <seconds>\", \"save <seconds>\" or "
                              "\"line <seconds> <pattern>\"");
        return std::nullopt;
    }
    *why = QStringLiteral("a step is \"close request\", \"console\", \"signal\" or \"await\"");
    return std::nullopt;
}

// A port number from 1 to 65535, with "/udp" or "/tcp" (the default) after it; 0 when the text is
// none.
std::uint16_t PortNumber(const QString& text, bool* udp) {
    bool ok = false;
    const QString protocol = text.section(u'/', 1).toLower();
    *udp = protocol == QLatin1String("udp");
    const int port = text.section(u'/', 0, 0).toInt(&ok);
    ok = ok && (protocol.isEmpty() || *udp || protocol == QLatin1String("tcp"));
    return ok && port > 0 && port < 65536 ? static_cast<std::uint16_t>(port) : 0;
}

// A number of seconds from 1 to a day; 0 when the text is none.
int SecondsNumber(const QString& text) {
    bool ok = false;
    const int seconds = text.toInt(&ok);
    return ok && seconds > 0 && seconds <= 86400 ? seconds : 0;
}

// "port <port> [<seconds>]", "line <seconds> <pattern>" or "settle".
bool ParseReadiness(ReadinessRule& rule, const QString& value, QString* why) {
    const QStringList words = value.split(u' ', Qt::SkipEmptyParts);
    const QString kind = words.value(0).toLower();
    if (kind == QLatin1String("settle") && words.size() == 1) {
        rule.kind = ReadinessRule::Kind::SettleTime;
        return true;
    }
    if (kind == QLatin1String("port") && (words.size() == 2 || words.size() == 3)) {
        rule.port = PortNumber(words[1], &rule.udp);
        rule.timeoutSeconds = words.size() == 3 ? SecondsNumber(words[2]) : 60;
        rule.kind = ReadinessRule::Kind::Port;
        if (rule.port != 0 && rule.timeoutSeconds != 0)
            return true;
    }
    if (kind == QLatin1String("line") && words.size() >= 3) {
        rule.timeoutSeconds = SecondsNumber(words[1]);
        rule.pattern = value.section(u' ', 2, -1, QString::SectionSkipEmpty);
        rule.kind = ReadinessRule::Kind::Line;
        if (rule.timeoutSeconds != 0 && QRegularExpression(rule.pattern).isValid())
            return true;
    }
    const bool stopIfNotReady = rule.stopIfNotReady; // from its own line
    rule = ReadinessRule{};
    rule.stopIfNotReady = stopIfNotReady;
    *why = QStringLiteral("\"ready\" is \"port <port>[/udp] [<seconds>]\", \"line <seconds> "
                          "<pattern>\" or \"settle\"");
    return false;
}

// "port <port> [every <seconds>] [misses <count>]", "silence <seconds>" or "line <pattern>".
std::optional<HealthProbe> ParseProbe(const QString& value, QString* why) {
    const QStringList words = value.split(u' ', Qt::SkipEmptyParts);
    const QString kind = words.value(0).toLower();
    HealthProbe probe;
    if (kind == QLatin1String("port") && words.size() >= 2 && words.size() % 2 == 0) {
        probe.kind = HealthProbe::Kind::Port;
        probe.port = PortNumber(words[1], &probe.udp);
        bool ok = probe.port != 0;
        for (qsizetype i = 2; ok && i + 1 < words.size(); i += 2) {
            const int number = SecondsNumber(words[i + 1]);
            if (words[i].toLower() == QLatin1String("every"))
                probe.everySeconds = number;
            else if (words[i].toLower() == QLatin1String("misses") && number <= 100)
                probe.misses = number;
            else
                ok = false;
            ok = ok && number != 0;
        }
        if (ok)
            return probe;
    }
    if (kind == QLatin1String("silence") && words.size() == 2 && SecondsNumber(words[1]) != 0)
        return HealthProbe{HealthProbe::Kind::Silence, 0, false, {}, SecondsNumber(words[1]), 1};
    if (kind == QLatin1String("frozen") && words.size() == 2 && SecondsNumber(words[1]) != 0)
        return HealthProbe{HealthProbe::Kind::Frozen, 0, false, {}, SecondsNumber(words[1]), 1};
    if (kind == QLatin1String("line") && words.size() >= 2) {
        const QString pattern = value.section(u' ', 1, -1, QString::SectionSkipEmpty);
        if (QRegularExpression(pattern).isValid())
            return HealthProbe{HealthProbe::Kind::Line, 0, false, pattern, 0, 1};
    }
    *why = QStringLiteral("\"probe\" is \"port <port>[/udp] [every <seconds>] [misses <count>]\", "
                          "\"silence <seconds>\", \"frozen <seconds>\" or \"line <pattern>\"");
    return std::nullopt;
}

// Applies one "key = value" line of a server's section; false with the reason when it cannot.
bool ApplyServerKey(ServerLaunchConfig& server, const QString& key, const QString& value,
                    QString* why) {
    if (const std::optional<bool> applied = ApplyPlayersOrMemoryKey(server, key, value, why))
        return *applied;
    if (const std::optional<bool> used = ApplyBackupKey(server.backup, key, value, why))
        return *used;
    if (key == QLatin1String("program")) {
        server.program = value;
        return !value.isEmpty() || (*why = QStringLiteral("the program is empty"), false);
    }
    if (key == QLatin1String("arguments")) {
        const std::optional<QStringList> words = SplitWords(value);
        if (!words) {
            *why = QStringLiteral("a quote is left open");
            return false;
        }
        server.arguments = *words;
        return true;
    }
    if (key == QLatin1String("environment")) {
        static const QRegularExpression assignment(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*="));
        if (!assignment.match(value).hasMatch()) {
            *why = QStringLiteral("an environment line is NAME=value");
            return false;
        }
        server.environment << value;
        return true;
    }
    if (key == QLatin1String("working folder")) {
        server.workingFolder = value;
        return true;
    }
    if (key == QLatin1String("console answers")) {
        if (value.isEmpty() || !ConsolePattern::Compile(value).isValid()) {
            *why = QStringLiteral("\"%1\" is no regular expression").arg(value);
            return false;
        }
        server.consoleAnswers = value;
        return true;
    }
    if (key == QLatin1String("close request")) {
        server.closeRequest = value;
        return true;
    }
    if (key == QLatin1String("save confirmation")) {
        if (!QRegularExpression(value).isValid() || value.isEmpty()) {
            *why = QStringLiteral("\"%1\" is no regular expression").arg(value);
            return false;
        }
        if (!server.stopPlan)
            server.stopPlan = StopPlan{};
        server.stopPlan->saveConfirmation = value;
        return true;
    }
    if (key == QLatin1String("kill after stop")) {
        const QString answer = Lower(value);
        if (answer != QLatin1String("yes") && answer != QLatin1String("no")) {
            *why = QStringLiteral("\"kill after stop\" is yes or no");
            return false;
        }
        if (!server.stopPlan)
            server.stopPlan = StopPlan{};
        server.stopPlan->escalate = answer == QLatin1String("yes");
        return true;
    }
    if (key == QLatin1String("stop")) {
        const std::optional<StopStep> step = ParseStep(value, why);
        if (!step)
            return false;
        if (!server.stopPlan)
            server.stopPlan = StopPlan{};
        server.stopPlan->steps.push_back(*step);
        return true;
    }
    if (key == QLatin1String("ready"))
        return ParseReadiness(server.health.ready, value, why);
    if (key == QLatin1String("if not ready")) {
        const QString answer = Lower(value);
        if (answer != QLatin1String("go on") && answer != QLatin1String("stop")) {
            *why = QStringLiteral("\"if not ready\" is \"go on\" or \"stop\"");
            return false;
        }
        server.health.ready.stopIfNotReady = answer == QLatin1String("stop");
        return true;
    }
    if (key == QLatin1String("probe")) {
        const std::optional<HealthProbe> probe = ParseProbe(value, why);
        if (probe)
            server.health.probes.push_back(*probe);
        return probe.has_value();
    }
    if (key == QLatin1String("expected exit")) {
        QList<int> statuses;
        for (const QString& word :
             value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
            bool ok = false;
            const int status = word.toInt(&ok);
            if (!ok || status < 0 || status > 255) {
                *why = QStringLiteral("\"expected exit\" lists exit statuses from 0 to 255");
                return false;
            }
            statuses << status;
        }
        server.health.expectedExits << statuses;
        return true;
    }
    *why = QStringLiteral("\"%1\" is no key of a server's section").arg(key);
    return false;
}

} // namespace

std::optional<QStringList> SplitWords(const QString& line) {
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (!quote.isNull()) {
            if (c == quote) {
                quote = QChar();
            } else if (quote == u'"' && c == u'\\' && i + 1 < line.size() &&
                       (line[i + 1] == u'"' || line[i + 1] == u'\\')) {
                word += line[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c.isSpace()) {
            if (inWord)
                words << std::exchange(word, QString());
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\'' || c == u'"')
            quote = c;
        else if (c == u'\\' && i + 1 < line.size())
            word += line[++i];
        else
            word += c;
    }
    if (!quote.isNull())
        return std::nullopt;
    if (inWord)
        words << word;
    return words;
}

InstallationConfig InstallationConfig::Parse(const QString& text, const QString& fileName) {
    InstallationConfig config;
    const auto problem = [&](int line, const QString& why) {
        config.problems << QStringLiteral("%1 line %2: %3; the line is left out")
                               .arg(fileName)
                               .arg(line)
                               .arg(why);
    };
    // -2: before any section, -3: an unknown one, -1: [Launcher], 0..2: a server, -4: [Alerts],
    // -5: [Web], kEndpoint + k: the k-th [Alert <name>]
    constexpr int kAlerts = -4, kWeb = -5, kEndpoint = 100, kSchedule = 10000;
    int section = -2;
    const QStringList lines = text.split(u'\n');
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const QString name = line.endsWith(u']') ? line.mid(1, line.size() - 2).trimmed() : "";
            section = -3;
            if (Lower(name) == QLatin1String("launcher"))
                section = -1;
            if (Lower(name) == QLatin1String("alerts"))
                section = kAlerts;
            if (Lower(name) == QLatin1String("web")) {
                section = kWeb;
                config.web.on = true;
            }
            if (Lower(name).startsWith(QLatin1String("alert "))) {
                AlertEndpointConfig endpoint;
                endpoint.name = name.mid(6).trimmed();
                section = kEndpoint + static_cast<int>(config.alerts.endpoints.size());
                config.alerts.endpoints << endpoint;
            }
            if (Lower(name).startsWith(QLatin1String("schedule "))) {
                section = kSchedule + static_cast<int>(config.schedules.size());
                ScheduleEntry schedule;
                schedule.name = name.mid(9).trimmed();
                schedule.line = n + 1;
                config.schedules << schedule;
            }
            for (int i = 0; i < ServerTable::kCount; ++i)
                if (Lower(name) == Lower(ServerTable::displayNames()[i]))
                    section = i;
            if (section == -3)
                problem(n + 1,
                        QStringLiteral("\"%1\" is no section; a section is [Launcher], "
                                       "[Login Server], [Char Server], [Map Server], "
                                       "[Alerts], [Alert <name>], [Schedule <name>] or [Web]")
                            .arg(line));
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) {
            problem(n + 1, QStringLiteral("a setting is \"key = value\""));
            continue;
        }
        // Blanks between a key's words count as one.
        const QString key = line.left(equals).simplified().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        if (section == -2 || section == -3) {
            problem(n + 1, QStringLiteral("\"%1\" comes before any section").arg(key));
            continue;
        }
        if (section == -1) {
            const LauncherKey* known = LauncherKeys::Find(key);
            if (!known) {
                problem(n + 1, QStringLiteral("\"%1\" is no key of [Launcher]").arg(key));
                continue;
            }
            if (const QString why = LauncherKeys::Problem(*known, value); !why.isEmpty()) {
                problem(n + 1, why);
                if (known->guards && config.refusal.isEmpty())
                    config.refusal =
                        QStringLiteral("%1 line %2: %3").arg(fileName).arg(n + 1).arg(why);
                continue;
            }
            config.launcher.insert(key, value);
            continue;
        }
        // Each section takes the keys of its table; any other is named with its line.
        const auto [keys, sectionName] =
            section >= kSchedule   ? std::pair(SectionKeys::Schedule(), "a schedule's section")
            : section == kAlerts   ? std::pair(SectionKeys::Alerts(), "[Alerts]")
            : section == kWeb      ? std::pair(SectionKeys::Web(), "[Web]")
            : section >= kEndpoint ? std::pair(SectionKeys::AlertEndpoint(), "an alert's section")
                                   : std::pair(SectionKeys::Server(), "a server's section");
        if (!SectionKeys::Takes(keys, key)) {
            problem(n + 1, QStringLiteral("\"%1\" is no key of %2").arg(key, sectionName));
            continue;
        }
        QString why;
        if (section >= kSchedule) {
            if (!config.schedules[section - kSchedule].applyKey(key, value, &why))
                problem(n + 1, why);
        } else if (section == kAlerts) {
            if (!config.alerts.applyKey(key, value, &why))
                problem(n + 1, why);
        } else if (section == kWeb) {
            if (!config.web.applyKey(key, value, &why))
                problem(n + 1, why);
        } else if (section >= kEndpoint) {
            if (!AlertsConfig::ApplyEndpointKey(config.alerts.endpoints[section - kEndpoint], key,
                                                value, &why))
                problem(n + 1, why);
        } else if (!ApplyServerKey(config.servers[section], key, value, &why)) {
            problem(n + 1, why);
            // Started without what it asks for, a server would run elsewhere or otherwise.
            static const QStringList kLaunchKeys = {"program", "arguments", "environment",
                                                    "working folder"};
            QString& launchProblem = config.servers[section].launchProblem;
            if (kLaunchKeys.contains(key) && launchProblem.isEmpty())
                launchProblem = QStringLiteral("%1 line %2: %3").arg(fileName).arg(n + 1).arg(why);
        }
    }
    for (qsizetype i = config.alerts.endpoints.size() - 1; i >= 0; --i) {
        QString why = AlertsConfig::EndpointProblem(config.alerts.endpoints[i]);
        for (qsizetype j = 0; j < i && why.isEmpty(); ++j)
            if (config.alerts.endpoints[j].name == config.alerts.endpoints[i].name)
                why = QStringLiteral("[Alert %1] comes twice; the second is left out")
                          .arg(config.alerts.endpoints[i].name);
        if (!why.isEmpty()) {
            config.problems << QStringLiteral("%1: %2").arg(fileName, why);
            config.alerts.endpoints.removeAt(i);
        }
    }
    for (int i = 0; i < ServerTable::kCount; ++i)
        if (const QString why = PlayerRulesProblem(config.servers[i]); !why.isEmpty())
            config.problems
                << QStringLiteral("%1 [%2]: %3").arg(fileName, ServerTable::displayNames()[i], why);
    for (qsizetype i = config.schedules.size() - 1; i >= 0; --i) {
        ScheduleEntry& entry = config.schedules[i];
        QString why = entry.finish();
        for (qsizetype j = 0; j < i && why.isEmpty(); ++j)
            if (config.schedules[j].name == entry.name)
                why = QStringLiteral("its name comes twice");
        if (!why.isEmpty()) {
            config.problems << QStringLiteral("%1 line %2: [Schedule %3]: %4; the schedule is "
                                              "left out")
                                   .arg(fileName)
                                   .arg(entry.line)
                                   .arg(entry.name, why);
            config.schedules.removeAt(i);
        }
    }
    // A plan of a save confirmation alone stops as by default, and waits for the save.
    for (ServerLaunchConfig& server : config.servers)
        if (server.stopPlan && server.stopPlan->steps.empty())
            server.stopPlan->steps = {StopStep{StopStep::Kind::CloseRequest, {}, 0, 0},
                                      StopStep{StopStep::Kind::AwaitSave, {}, 0, 30},
                                      StopStep{StopStep::Kind::AwaitEnd, {}, 0, 30}};
    return config;
}

InstallationConfig InstallationConfig::Read(const QString& serverFolder) {
    // The operator's own file, and small: a larger one is no configuration.
    constexpr qint64 kMaxBytes = 1024 * 1024;
    const QString trustedGroup = QString::fromLatin1(LauncherKeys::kTrustedGroup.name).toLower();
    InstallationConfig config;
    const TrustedFileRead read = ReadTrustedFile(
        serverFolder, QLatin1String(kFileName), kMaxBytes, [&](const QByteArray& data) {
            config = Parse(QString::fromUtf8(data), QLatin1String(kFileName));
            return config.launcher.value(trustedGroup);
        });
    if (!read.found)
        return {};
    if (!read.refusal.isEmpty()) {
        config = InstallationConfig{};
        config.refusal = read.refusal;
    }
    config.found = true;
    return config;
}
