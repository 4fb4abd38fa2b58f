#pragma once
// The date helper for the publication end date: converts between the date
// text of the setting FileDeleteDate ("2014-3-5") and a time value at local
// midnight, and counts whole days from today.
//
// Time values are 64-bit counts of seconds since 1970-01-01 00:00 UTC (the C
// runtime's __time64_t). Local time follows the system's time zone with its
// daylight saving rules.
//
// An invalid date text (a part out of range, or a date the calendar cannot
// represent) is not thrown: the conversions return an empty optional, which
// the callers treat like a date out of range.
#include <windows.h>
#include <ctime>
#include <optional>
#include <string>

class CControlCalendar {
public:
    // Local midnight of the date in `text` ("%d-%d-%d"). A text without "-"
    // means today. Empty when a part is out of range (year below 1900, month
    // outside 1..12, day outside 1..31) or the date cannot be represented; a
    // day past the month's end within 1..31 carries into the next month
    // ("2014-2-30" is 2 March).
    std::optional<__time64_t> ChangeDateToCTimeClass(const std::string& text) const;

    // "%d-%d-%d" of the local year, month and day of `time`; empty when the
    // time value lies outside the calendar (before 1601).
    std::string ChangeCTimeToString(__time64_t time) const;

    // Whole days from today's local midnight to `time`, rounded toward zero:
    // today 0, tomorrow 1, yesterday -1.
    long long DaysFromToday(__time64_t time) const;
    // DaysFromToday(ChangeDateToCTimeClass(text)); empty when the text is invalid.
    std::optional<long long> DaysFromToday(const std::string& text) const;

    // Local midnight of a calendar date, with the same checks as
    // ChangeDateToCTimeClass.
    static std::optional<__time64_t> LocalMidnight(int year, int month, int day);
    // The local date and time of `time`; false outside the calendar.
    static bool ToLocalTime(__time64_t time, SYSTEMTIME& local);
    // Whole days from `from` to `to` on the local wall clock, rounded toward
    // zero. Counted on the wall clock rather than in elapsed seconds, so a
    // change to or from daylight saving in between (a day of 23 or 25 hours)
    // does not lose or add a day.
    static long long DaysBetween(__time64_t from, __time64_t to);
};
