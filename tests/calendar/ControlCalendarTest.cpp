// The date helper: date texts, local midnights and day counts, in the zone
// the test runs in (once without daylight saving, once with it).
#include "zinpost/engine/ControlCalendar.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian), for expected
// values computed apart from the helper.
long long CivilDays(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The civil date `days` after 1970-01-01.
SYSTEMTIME CivilDate(long long days) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    SYSTEMTIME date{};
    date.wDay = static_cast<WORD>(doy - (153 * mp + 2) / 5 + 1);
    date.wMonth = static_cast<WORD>(mp < 10 ? mp + 3 : mp - 9);
    date.wYear = static_cast<WORD>(yoe + era * 400 + (date.wMonth <= 2));
    return date;
}

std::string DateText(const SYSTEMTIME& date) { return fw::Format("%d-%d-%d", date.wYear, date.wMonth, date.wDay); }

long long TodayDays() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return CivilDays(now.wYear, now.wMonth, now.wDay);
}

// Runs `check` with today's civil day number; again if the local date
// changed meanwhile (a run across midnight).
void WithToday(const std::function<void(long long)>& check) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const long long today = TodayDays();
        check(today);
        if (TodayDays() == today) return;
    }
}

bool ZoneHasDaylightSaving() {
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    return zone.DaylightDate.wMonth != 0 && zone.DaylightBias != 0;
}

class ControlCalendarTest : public ::testing::Test {
protected:
    __time64_t Midnight(const std::string& text) {
        const std::optional<__time64_t> time = calendar.ChangeDateToCTimeClass(text);
        EXPECT_TRUE(time.has_value()) << text;
        return time.value_or(0);
    }

    CControlCalendar calendar;
};

TEST_F(ControlCalendarTest, CountsWholeDaysFromToday) {
    for (long long ahead : {0LL, 1LL, -1LL, 30LL, 365LL, 366LL}) {
        WithToday([&](long long today) {
            const std::string text = DateText(CivilDate(today + ahead));
            EXPECT_EQ(calendar.DaysFromToday(text), std::optional<long long>(ahead)) << text;
            EXPECT_EQ(calendar.DaysFromToday(Midnight(text)), ahead) << text;
        });
    }
}

TEST_F(ControlCalendarTest, TextWithoutDashMeansToday) {
    WithToday([&](long long today) {
        for (const char* text : {"", "20140305", "today"}) {
            EXPECT_EQ(calendar.DaysFromToday(std::string(text)), std::optional<long long>(0)) << text;
            EXPECT_EQ(calendar.ChangeCTimeToString(Midnight(text)), DateText(CivilDate(today))) << text;
        }
    });
}

TEST_F(ControlCalendarTest, PartOutOfRangeIsInvalid) {
    for (const char* text : {"2014-13-1", "2014-2-32", "2014-0-1", "2014-1-0", "1899-12-31", "2014-3", "2014--5",
                             "x-1-1", "99999999999-1-1", "2014-99999999999-1", "30828-1-1"}) {
        EXPECT_FALSE(calendar.ChangeDateToCTimeClass(text).has_value()) << text;
        EXPECT_FALSE(calendar.DaysFromToday(std::string(text)).has_value()) << text;
    }
    // The edges of the ranges themselves are valid.
    for (const char* text : {"1900-1-1", "2014-12-31", "2014-1-31"})
        EXPECT_TRUE(calendar.ChangeDateToCTimeClass(text).has_value()) << text;
}

TEST_F(ControlCalendarTest, DayPastMonthEndCarriesIntoNextMonth) {
    EXPECT_EQ(calendar.ChangeCTimeToString(Midnight("2014-2-30")), "2014-3-2");
    EXPECT_EQ(calendar.ChangeCTimeToString(Midnight("2016-2-30")), "2016-3-1");  // leap year
    EXPECT_EQ(calendar.ChangeCTimeToString(Midnight("2014-4-31")), "2014-5-1");
    EXPECT_EQ(calendar.ChangeCTimeToString(Midnight("2014-12-31")), "2014-12-31");
}

TEST_F(ControlCalendarTest, ReadsLeadingDigitsOfEachPart) {
    EXPECT_EQ(Midnight("2014-03-05"), Midnight("2014-3-5"));
    EXPECT_EQ(Midnight("2014-3-5 "), Midnight("2014-3-5"));
    EXPECT_EQ(calendar.ChangeCTimeToString(Midnight("2014-03-05")), "2014-3-5");
}

TEST_F(ControlCalendarTest, StartValueLiesFarInThePast) {
    WithToday([&](long long today) {
        const std::optional<long long> days = calendar.DaysFromToday(std::string("1990-1-1"));
        ASSERT_TRUE(days.has_value());
        EXPECT_EQ(*days, CivilDays(1990, 1, 1) - today);
        EXPECT_LT(*days, -10000);
    });
}

TEST_F(ControlCalendarTest, TimeValueIsLocalMidnight) {
    for (const char* text : {"1990-1-1", "2014-3-5", "2024-3-31", "2024-7-15", "2024-10-27", "2038-1-20"}) {
        SYSTEMTIME local{};
        ASSERT_TRUE(CControlCalendar::ToLocalTime(Midnight(text), local)) << text;
        EXPECT_EQ(DateText(local), text);
        EXPECT_EQ(local.wHour + local.wMinute + local.wSecond, 0) << text;
    }
    if (!ZoneHasDaylightSaving()) {
        // Without daylight saving the value is UTC midnight moved by the zone's bias.
        TIME_ZONE_INFORMATION zone{};
        GetTimeZoneInformation(&zone);
        EXPECT_EQ(Midnight("2014-3-5"), CivilDays(2014, 3, 5) * 86400 + zone.Bias * 60LL);
        EXPECT_EQ(Midnight("2038-1-20"), CivilDays(2038, 1, 20) * 86400 + zone.Bias * 60LL);
    }
}

TEST_F(ControlCalendarTest, DaysRoundTowardZero) {
    WithToday([&](long long today) {
        const __time64_t midnight = Midnight(DateText(CivilDate(today)));
        EXPECT_EQ(calendar.DaysFromToday(midnight + 23 * 3600), 0);
        EXPECT_EQ(calendar.DaysFromToday(midnight - 3600), 0);
        EXPECT_EQ(calendar.DaysFromToday(midnight - 25 * 3600), -1);
        const __time64_t tomorrow = Midnight(DateText(CivilDate(today + 1)));
        EXPECT_EQ(calendar.DaysFromToday(tomorrow + 3600), 1);
    });
}

TEST_F(ControlCalendarTest, DaylightSavingChangeKeepsWholeDays) {
    // The entry that runs in a zone with daylight saving says so: there the
    // zone must have it (Wine not taking TZ would otherwise pass unseen).
    char flag[2] = {};
    const bool expected = GetEnvironmentVariableA("ZINPOST_EXPECT_DAYLIGHT_SAVING", flag, sizeof flag) == 1 &&
                          flag[0] == '1';
    if (!ZoneHasDaylightSaving()) {
        ASSERT_FALSE(expected) << "the zone has no daylight saving: TZ was not taken";
        GTEST_SKIP() << "the zone has no daylight saving";
    }
    // Find the days of 2024 whose length is not 24 hours.
    int changes = 0;
    for (long long day = CivilDays(2024, 1, 1); day < CivilDays(2025, 1, 1); ++day) {
        const std::string text = DateText(CivilDate(day));
        const std::string next = DateText(CivilDate(day + 1));
        const __time64_t start = Midnight(text), end = Midnight(next);
        if (end - start == 86400) continue;
        ++changes;
        EXPECT_EQ(CControlCalendar::DaysBetween(start, end), 1) << text;
        EXPECT_EQ(CControlCalendar::DaysBetween(end, start), -1) << text;
        EXPECT_EQ(CControlCalendar::DaysBetween(Midnight(DateText(CivilDate(day - 30))), end), 31) << text;
        EXPECT_EQ(calendar.ChangeCTimeToString(end), next);
    }
    EXPECT_EQ(changes, 2);
}

TEST_F(ControlCalendarTest, TimeOutsideTheCalendarHasNoText) {
    // Before 1601.
    EXPECT_EQ(calendar.ChangeCTimeToString(-20000000000LL), "");
    SYSTEMTIME local{};
    EXPECT_FALSE(CControlCalendar::ToLocalTime(-20000000000LL, local));
}

}  // namespace
