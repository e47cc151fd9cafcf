#include "ScheduleConfig.h"

#include "CommandLineText.h"
#include "ServerTable.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

// Why the text cannot be typed into a console; empty when it can.
QString TypingFault(const QString& text) {
    if (text.trimmed().isEmpty())
        return QStringLiteral("the line to type is empty");
    return CommandLineText::Fault(text);
}

} // namespace

QString ScheduleEntry::taskText() const {
    switch (task.value_or(Task::Restart)) {
    case Task::Command:
        return QStringLiteral("command \"") + command + u'"';
    case Task::Backup:
        return QStringLiteral("backup");
    default:
        return QStringLiteral("restart");
    }
}

std::optional<int> ScheduleEntry::Offset(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^(?:(\\d{1,2})h)?(?:(\\d{1,4})m)?(?:(\\d{1,5})s)?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed().toLower());
    if (!m.hasMatch() || text.trimmed().isEmpty())
        return std::nullopt;
    const int seconds =
        m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
    if (seconds < 1 || seconds > 86400)
        return std::nullopt;
    return seconds;
}

QString ScheduleEntry::FillIn(const QString& text, int secondsLeft, const QString& server) {
    const int seconds = std::max(secondsLeft, 0);
    return QString(text)
        .replace(QLatin1String("{minutes}"), QString::number((seconds + 59) / 60))
        .replace(QLatin1String("{seconds}"), QString::number(seconds))
        .replace(QLatin1String("{server}"), server);
}

bool ScheduleEntry::applyKey(const QString& key, const QString& value, QString* why) {
    if (key == QLatin1String("servers")) {
        if (value.trimmed().toLower() == QLatin1String("all")) {
            servers = {true, true, true};
            return true;
        }
        std::array<bool, 3> named{};
        for (const QString& word : value.split(u',', Qt::SkipEmptyParts)) {
            const int server = ServerTable::IndexOfName(word);
            if (server < 0) {
                *why = QStringLiteral("\"%1\" names no server; \"servers\" is all or a list of "
                                      "login, char and map")
                           .arg(word.trimmed());
                return false;
            }
            named[server] = true;
        }
        if (!(named[0] || named[1] || named[2])) {
            *why = QStringLiteral("\"servers\" names no server");
            return false;
        }
        servers = named;
        return true;
    }
    if (key == QLatin1String("task")) {
        const QString word = value.trimmed().toLower();
        if (word == QLatin1String("restart"))
            task = Task::Restart;
        else if (word == QLatin1String("command"))
            task = Task::Command;
        else if (word == QLatin1String("backup"))
            task = Task::Backup;
        else
            return *why = QStringLiteral("\"task\" is restart, command or backup"), false;
        return true;
    }
    if (key == QLatin1String("at")) {
        const QTime time = QTime::fromString(value.trimmed(), QStringLiteral("H:mm"));
        if (!time.isValid()) {
            *why = QStringLiteral("\"at\" is a time of day such as 04:00 or 23:30");
            return false;
        }
        at = time;
        return true;
    }
    if (key == QLatin1String("days")) {
        days = WeekdaysNamed(value, why);
        daysText = value.trimmed();
        return days.has_value();
    }
    if (key == QLatin1String("cron")) {
        cron = ScheduleTimes::FromCron(value, why);
        cronText = value.simplified();
        return cron.has_value();
    }
    if (key == QLatin1String("command")) {
        if (const QString fault = TypingFault(value); !fault.isEmpty()) {
            *why = fault;
            return false;
        }
        command = value;
        return true;
    }
    if (key == QLatin1String("warn")) {
        const std::optional<int> seconds = Offset(value.section(u' ', 0, 0));
        const QString text = value.section(u' ', 1).trimmed();
        if (!seconds) {
            *why = QStringLiteral("\"warn\" is a time before the run (15m, 30s, 1h) and the line "
                                  "to type");
            return false;
        }
        static const QRegularExpression placeholder(QStringLiteral("\\{[^}]*\\}"));
        for (const QRegularExpressionMatch& m : placeholder.globalMatch(text)) {
            if (m.captured() != QLatin1String("{minutes}") &&
                m.captured() != QLatin1String("{seconds}") &&
                m.captured() != QLatin1String("{server}")) {
                *why = QStringLiteral("%1 is no placeholder; they are {minutes}, {seconds} and "
                                      "{server}")
                           .arg(m.captured());
                return false;
            }
        }
        if (const QString fault = TypingFault(FillIn(text, 0, {})); !fault.isEmpty()) {
            *why = fault;
            return false;
        }
        warnings << Warning{*seconds, text};
        std::stable_sort(warnings.begin(), warnings.end(),
                         [](const Warning& a, const Warning& b) { return a.seconds > b.seconds; });
        return true;
    }
    if (key == QLatin1String("if missed")) {
        const QString word = value.trimmed().toLower();
        if (word != QLatin1String("run") && word != QLatin1String("skip")) {
            *why = QStringLiteral("\"if missed\" is run or skip");
            return false;
        }
        runIfMissed = word == QLatin1String("run");
        return true;
    }
    *why = QStringLiteral("\"%1\" is no key of a schedule's section").arg(key);
    return false;
}

QString ScheduleEntry::finish() {
    if (!task)
        return QStringLiteral("it has no \"task\"");
    if (*task == Task::Command && command.isEmpty())
        return QStringLiteral("a command task needs its \"command\"");
    if (at.has_value() == cron.has_value())
        return QStringLiteral("it needs either \"at\" or \"cron\"");
    if (cron && days)
        return QStringLiteral("\"days\" goes with \"at\"; a cron line names its own days");
    if (at) {
        times = ScheduleTimes::At(*at, days.value_or(std::bitset<7>().set()));
        whenText = QStringLiteral("at ") + at->toString(QStringLiteral("HH:mm")) +
                   (days ? QStringLiteral(" on ") + daysText : QString());
    } else {
        times = *cron;
        whenText = QStringLiteral("on \"") + cronText + u'"';
    }
    if (!times.nextAfter(0, QTimeZone(QByteArrayLiteral("UTC"))))
        return QStringLiteral("its days never come");
    return QString();
}
