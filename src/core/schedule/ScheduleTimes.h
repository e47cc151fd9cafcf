#pragma once

#include <QString>
#include <QTime>
#include <QTimeZone>
#include <bitset>
#include <cstdint>
#include <optional>

class QDate;

// The moments a schedule names, on the local clock of a time zone: the minutes, hours, days of the
// month, months and days of the week it runs on, as a five-field cron line gives them ("30 4 * *
// 1-5"), or an "at" time with its days. A day matches as cron has it: when both the day of the
// month and the day of the week are restricted, either one will do.
//
// A local time the clock skips when it is set on in spring (02:30 on a day that goes from 02:00
// to 03:00) is taken as the first time after the gap, once; a local time the clock passes twice
// in autumn is taken the first time only.
struct ScheduleTimes {
    std::bitset<60> minutes;
    std::bitset<24> hours;
    std::bitset<32> days;     // 1 to 31
    std::bitset<13> months;   // 1 to 12
    std::bitset<7> weekdays;  // 0 Sunday to 6 Saturday
    bool everyDay = true;     // the day of the month is "*"
    bool everyWeekday = true; // the day of the week is "*"

    // "minute hour day-of-month month day-of-week": each field "*", a number, a range "1-5", a
    // step "*/15" or "10-50/20", or a list of those "0,30"; months and days of the week also by
    // their English names' first three letters, Sunday also as 7. Nothing, with the reason, when
    // the line is none.
    static std::optional<ScheduleTimes> FromCron(const QString& line, QString* why);
    // Every day at that time, or on the days of the week given (0 Sunday to 6 Saturday).
    static ScheduleTimes At(QTime time, std::bitset<7> weekdays = std::bitset<7>().set());

    bool matchesDay(const QDate& date) const;
    // The first moment after afterMs (milliseconds since 1970 UTC) these times name in the zone;
    // nothing when there is none within five years (the 31st of February).
    std::optional<std::int64_t> nextAfter(std::int64_t afterMs, const QTimeZone& zone) const;
};

// "mon,wed,fri", "mon-fri", "sat,sun", "daily": days of the week (0 Sunday to 6 Saturday);
// nothing, with the reason, when the text is none.
std::optional<std::bitset<7>> WeekdaysNamed(const QString& text, QString* why);
