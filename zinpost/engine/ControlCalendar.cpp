#include "zinpost/engine/ControlCalendar.h"

#include "zinpost/engine/Log.h"

#include "framework/Text.h"

#include <climits>

namespace {

constexpr long long kSecondsPerDay = 86400;
constexpr long long kTicksPerSecond = 10000000;          // FILETIME counts 100 ns
constexpr long long kEpochDifference = 11644473600LL;    // 1601-01-01 to 1970-01-01 in seconds
constexpr int kFirstYear = 1900;
constexpr int kLastYear = 30827;                         // the last year a SYSTEMTIME holds

// The decimal value of the leading digits of `text` (0 when there are none);
// a value too large for an int saturates, so it fails the range checks.
int LeadingNumber(const std::string& text) {
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

bool ToFileTime(__time64_t time, FILETIME& file) {
    if (time < -kEpochDifference || time > (LLONG_MAX / kTicksPerSecond) - kEpochDifference) return false;
    const unsigned long long ticks = static_cast<unsigned long long>(time + kEpochDifference) * kTicksPerSecond;
    file.dwLowDateTime = static_cast<DWORD>(ticks);
    file.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

__time64_t FromFileTime(const FILETIME& file) {
    const unsigned long long ticks =
        (static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return static_cast<__time64_t>(ticks / kTicksPerSecond) - kEpochDifference;
}

// Seconds of a date and time read as if it were UTC: the local wall clock
// as a plain count, with no daylight saving jumps in it.
bool WallClockSeconds(const SYSTEMTIME& local, long long& seconds) {
    FILETIME file{};
    if (!SystemTimeToFileTime(&local, &file)) return false;
    seconds = FromFileTime(file);
    return true;
}

}  // namespace

std::optional<__time64_t> CControlCalendar::LocalMidnight(int year, int month, int day) {
    if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    // Day arithmetic on the calendar alone carries 30 February into March.
    SYSTEMTIME first{};
    first.wYear = static_cast<WORD>(year);
    first.wMonth = static_cast<WORD>(month);
    first.wDay = 1;
    FILETIME file{};
    if (!SystemTimeToFileTime(&first, &file)) return std::nullopt;
    ULARGE_INTEGER ticks;
    ticks.LowPart = file.dwLowDateTime;
    ticks.HighPart = file.dwHighDateTime;
    ticks.QuadPart += static_cast<unsigned long long>(day - 1) * kSecondsPerDay * kTicksPerSecond;
    file.dwLowDateTime = ticks.LowPart;
    file.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME localMidnight{};
    if (!FileTimeToSystemTime(&file, &localMidnight)) return std::nullopt;

    // The system's zone decides the offset of that day, daylight saving included.
    SYSTEMTIME utc{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &localMidnight, &utc)) return std::nullopt;
    if (!SystemTimeToFileTime(&utc, &file)) return std::nullopt;
    return FromFileTime(file);
}

bool CControlCalendar::ToLocalTime(__time64_t time, SYSTEMTIME& local) {
    FILETIME file{};
    SYSTEMTIME utc{};
    return ToFileTime(time, file) && FileTimeToSystemTime(&file, &utc) &&
           SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
}

long long CControlCalendar::DaysBetween(__time64_t from, __time64_t to) {
    SYSTEMTIME a{}, b{};
    long long wallFrom = 0, wallTo = 0;
    if (ToLocalTime(from, a) && ToLocalTime(to, b) && WallClockSeconds(a, wallFrom) && WallClockSeconds(b, wallTo))
        return (wallTo - wallFrom) / kSecondsPerDay;
    return (to - from) / kSecondsPerDay;
}

std::optional<__time64_t> CControlCalendar::ChangeDateToCTimeClass(const std::string& text) const {
    int year, month, day;
    const size_t first = text.find('-');
    if (first == std::string::npos) {
        SYSTEMTIME today{};
        GetLocalTime(&today);
        year = today.wYear;
        month = today.wMonth;
        day = today.wDay;
    } else {
        const size_t second = text.find('-', first + 1);
        year = LeadingNumber(text.substr(0, first));
        month = LeadingNumber(text.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                                 : second - first - 1));
        day = second == std::string::npos ? 0 : LeadingNumber(text.substr(second + 1));
    }
    LOG_WRITE(1, "%d-%d-%d", year, month, day);

    const std::optional<__time64_t> time = LocalMidnight(year, month, day);
    if (!time) LOG_WRITE(4, "invalid date[%s]", text.c_str());
    return time;
}

std::string CControlCalendar::ChangeCTimeToString(__time64_t time) const {
    SYSTEMTIME local{};
    if (!ToLocalTime(time, local)) {
        LOG_WRITE(4, "time out of the calendar[%lld]", static_cast<long long>(time));
        return std::string();
    }
    return fw::Format("%d-%d-%d", local.wYear, local.wMonth, local.wDay);
}

long long CControlCalendar::DaysFromToday(__time64_t time) const {
    SYSTEMTIME today{};
    GetLocalTime(&today);
    const std::optional<__time64_t> midnight = LocalMidnight(today.wYear, today.wMonth, today.wDay);
    const long long days = midnight ? DaysBetween(*midnight, time) : 0;
    LOG_WRITE(1, "days from today[%lld]", days);
    return days;
}

std::optional<long long> CControlCalendar::DaysFromToday(const std::string& text) const {
    const std::optional<__time64_t> time = ChangeDateToCTimeClass(text);
    if (!time) return std::nullopt;
    return DaysFromToday(*time);
}
