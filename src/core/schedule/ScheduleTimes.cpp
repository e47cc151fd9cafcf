#include "ScheduleTimes.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>

namespace {

constexpr std::int64_t kDayMs = 24 * 60 * 60 * 1000;
const QStringList kMonthNames{"jan", "feb", "mar", "apr", "may", "jun",
                              "jul", "aug", "sep", "oct", "nov", "dec"};
const QStringList kDayNames{"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

// A number of the field, or a name when the field has names (names[0] stands for first).
std::optional<int> FieldValue(const QString& word, int first, const QStringList& names) {
    bool ok = false;
    const int number = word.toInt(&ok);
    if (ok)
        return number;
    const qsizetype named = names.indexOf(word.toLower());
    if (named >= 0)
        return first + static_cast<int>(named);
    return std::nullopt;
}

// One cron field into the set of its values from first to last; false when it is none. "*" is
// told apart, for the rule that joins the two day fields.
template <std::size_t N>
bool ParseField(const QString& field, int first, int last, const QStringList& names,
                std::bitset<N>& set, bool* star) {
    *star = field == QLatin1String("*");
    for (const QString& item : field.split(u',')) {
        const QString range = item.section(u'/', 0, 0);
        const QString stepText = item.section(u'/', 1);
        int from = first, to = last, step = 1;
        if (item.count(u'/') > 1)
            return false;
        if (!stepText.isEmpty() || item.contains(u'/')) {
            bool ok = false;
            step = stepText.toInt(&ok);
            if (!ok || step < 1)
                return false;
        }
        if (range != QLatin1String("*")) {
            const std::optional<int> a = FieldValue(range.section(u'-', 0, 0), first, names);
            const std::optional<int> b =
                range.contains(u'-') ? FieldValue(range.section(u'-', 1), first, names) : a;
            if (!a || !b || range.count(u'-') > 1)
                return false;
            from = *a;
            // "5/15": from 5 to the end, every 15
            to = item.contains(u'/') && !range.contains(u'-') ? last : *b;
        }
        if (from < first || to > last || from > to)
            return false;
        for (int value = from; value <= to; value += step)
            set.set(static_cast<std::size_t>(value));
    }
    return true;
}

// The moment a local date and time stands for in the zone: the first of two in the hour the clock
// passes twice; the end of the gap for a time the clock skips.
std::int64_t LocalMoment(const QDate& date, QTime time, const QTimeZone& zone) {
    const std::int64_t naive = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    std::optional<std::int64_t> first;
    // The offsets a day before and a day after: one of them is the one in force at that time.
    for (const std::int64_t probe : {naive - kDayMs, naive + kDayMs}) {
        const int offset = zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(probe, Qt::UTC));
        const std::int64_t candidate = naive - std::int64_t{1000} * offset;
        const QDateTime back = QDateTime::fromMSecsSinceEpoch(candidate, zone);
        if (back.date() == date && back.time() == time)
            first = std::min(first.value_or(candidate), candidate);
    }
    if (first)
        return *first;
    const QTimeZone::OffsetData gapEnd =
        zone.nextTransition(QDateTime::fromMSecsSinceEpoch(naive - kDayMs, Qt::UTC));
    return gapEnd.atUtc.isValid() ? gapEnd.atUtc.toMSecsSinceEpoch() : naive;
}

} // namespace

std::optional<ScheduleTimes> ScheduleTimes::FromCron(const QString& line, QString* why) {
    const QStringList fields = line.simplified().split(u' ', Qt::SkipEmptyParts);
    if (fields.size() != 5) {
        *why = QStringLiteral("\"cron\" takes five fields: minute hour day-of-month month "
                              "day-of-week");
        return std::nullopt;
    }
    ScheduleTimes t;
    bool star = false;
    std::bitset<8> weekdays; // Sunday as 0 or 7
    const char* bad = nullptr;
    if (!ParseField(fields[0], 0, 59, {}, t.minutes, &star))
        bad = "minute (0-59)";
    else if (!ParseField(fields[1], 0, 23, {}, t.hours, &star))
        bad = "hour (0-23)";
    else if (!ParseField(fields[2], 1, 31, {}, t.days, &t.everyDay))
        bad = "day of the month (1-31)";
    else if (!ParseField(fields[3], 1, 12, kMonthNames, t.months, &star))
        bad = "month (1-12 or jan-dec)";
    else if (!ParseField(fields[4], 0, 7, kDayNames, weekdays, &t.everyWeekday))
        bad = "day of the week (0-7 or sun-sat)";
    if (bad) {
        *why = QStringLiteral("the cron line's %1 field is none").arg(QLatin1String(bad));
        return std::nullopt;
    }
    for (int day = 0; day < 7; ++day)
        t.weekdays[day] = weekdays[day] || (day == 0 && weekdays[7]);
    if (!t.nextAfter(0, QTimeZone(QByteArrayLiteral("UTC")))) {
        *why = QStringLiteral("the cron line names no day that comes");
        return std::nullopt;
    }
    return t;
}

ScheduleTimes ScheduleTimes::At(QTime time, std::bitset<7> weekdays) {
    ScheduleTimes t;
    t.minutes.set(static_cast<std::size_t>(time.minute()));
    t.hours.set(static_cast<std::size_t>(time.hour()));
    t.days.set().reset(0);
    t.months.set().reset(0);
    t.weekdays = weekdays;
    t.everyDay = true;
    t.everyWeekday = weekdays.all();
    return t;
}

bool ScheduleTimes::matchesDay(const QDate& date) const {
    if (!months[static_cast<std::size_t>(date.month())])
        return false;
    const bool day = days[static_cast<std::size_t>(date.day())];
    const bool weekday = weekdays[static_cast<std::size_t>(date.dayOfWeek() % 7)];
    if (everyDay && everyWeekday)
        return true;
    if (everyDay)
        return weekday;
    if (everyWeekday)
        return day;
    return day || weekday;
}

std::optional<std::int64_t> ScheduleTimes::nextAfter(std::int64_t afterMs,
                                                     const QTimeZone& zone) const {
    int lastHour = -1, lastMinute = -1;
    for (int i = 0; i < 24; ++i)
        lastHour = hours[static_cast<std::size_t>(i)] ? i : lastHour;
    for (int i = 0; i < 60; ++i)
        lastMinute = minutes[static_cast<std::size_t>(i)] ? i : lastMinute;
    if (lastHour < 0 || lastMinute < 0)
        return std::nullopt;
    // From the day before: a time skipped in the night may be taken after midnight's date. A day,
    // or an hour, whose last time has passed is passed over whole.
    QDate day = QDateTime::fromMSecsSinceEpoch(afterMs, zone).date().addDays(-1);
    for (int n = 0; n < 5 * 366 + 2; ++n, day = day.addDays(1)) {
        if (!matchesDay(day) || LocalMoment(day, QTime(lastHour, lastMinute), zone) <= afterMs)
            continue;
        for (int hour = 0; hour < 24; ++hour) {
            if (!hours[static_cast<std::size_t>(hour)] ||
                LocalMoment(day, QTime(hour, lastMinute), zone) <= afterMs)
                continue;
            for (int minute = 0; minute < 60; ++minute) {
                if (!minutes[static_cast<std::size_t>(minute)])
                    continue;
                const std::int64_t at = LocalMoment(day, QTime(hour, minute), zone);
                if (at > afterMs)
                    return at;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::bitset<7>> WeekdaysNamed(const QString& text, QString* why) {
    std::bitset<7> set;
    const QString all = text.trimmed().toLower();
    if (all == QLatin1String("daily") || all == QLatin1String("every day"))
        return set.set();
    std::bitset<8> named;
    bool star = false;
    const QString field = QString(all).remove(u' ');
    if (field.isEmpty() || field.contains(u'*') || field.contains(u'/') ||
        !ParseField(field, 0, 7, kDayNames, named, &star)) {
        *why = QStringLiteral("\"days\" lists days of the week: mon, tue, wed, thu, fri, sat, sun, "
                              "or ranges such as mon-fri");
        return std::nullopt;
    }
    for (int day = 0; day < 7; ++day)
        set[day] = named[day] || (day == 0 && named[7]);
    return set;
}
