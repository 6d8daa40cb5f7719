#include <SolvoEarthKits/progress/ProgressDates.h>

#include <SolvoEarthKits/progress/LeadingInteger.h>

#include <climits>
#include <cstdio>
#include <ctime>

namespace SolvoEarthUtil {

namespace {

const long long SecondsPerDay = 86400;

// One date field: atoi's reading, but at least one digit and within the int range.
bool readField(const std::string& text, std::size_t& pos, int& value)
{
    const LeadingInteger number = readLeadingInteger(text, pos);
    if (!number.digits || number.overflow || number.value < INT_MIN || number.value > INT_MAX)
        return false;
    value = static_cast<int>(number.value);
    pos = number.end;
    return true;
}

// The separator is whatever single byte follows a field; it only has to exist.
bool skipSeparator(const std::string& text, std::size_t& pos)
{
    if (pos >= text.size())
        return false;
    ++pos;
    return true;
}

// Seconds of local midnight of the date, taken as standard time so that daylight saving never
// shifts a day boundary.
bool localMidnight(const std::string& text, long long& seconds)
{
    int year = 0;
    int month = 0;
    int day = 0;
    if (!parseDate(text, year, month, day))
        return false;

    // The struct fields are ints too; a year or month at the very edge of the int range cannot be
    // expressed there.
    const long long tmYear = static_cast<long long>(year) - 1900;
    const long long tmMonth = static_cast<long long>(month) - 1;
    if (tmYear < INT_MIN || tmMonth < INT_MIN)
        return false;

    std::tm local{};
    local.tm_year = static_cast<int>(tmYear);
    local.tm_mon = static_cast<int>(tmMonth);
    local.tm_mday = day;
    local.tm_isdst = 0;
    // mktime gives -1 both on failure and for the instant one second before the epoch; only a
    // successful call fills in the weekday.
    local.tm_wday = -1;
    const std::time_t result = std::mktime(&local);
    if (result == static_cast<std::time_t>(-1) && local.tm_wday == -1)
        return false;
    seconds = static_cast<long long>(result);
    return true;
}

std::string formatDate(long long year, long long month, long long day)
{
    char buffer[80];
    std::snprintf(buffer, sizeof(buffer), "%04lld-%02lld-%02lld", year, month, day);
    return buffer;
}

} // namespace

bool parseDate(const std::string& text, int& year, int& month, int& day)
{
    if (text.size() < 8)
        return false;
    std::size_t pos = 0;
    int y = 0;
    int m = 0;
    int d = 0;
    if (!readField(text, pos, y) || !skipSeparator(text, pos) || !readField(text, pos, m) ||
        !skipSeparator(text, pos) || !readField(text, pos, d))
        return false;
    year = y;
    month = m;
    day = d;
    return true;
}

std::string normalizeDate(const std::string& text)
{
    int year = 0;
    int month = 0;
    int day = 0;
    if (!parseDate(text, year, month, day))
        return std::string();
    return formatDate(year, month, day);
}

std::string addDays(const std::string& text, int days)
{
    long long start = 0;
    if (!localMidnight(text, start))
        return std::string();

    // mktime's results lie within about +-7e16 s and an int of days within +-2e14 s, so the sum
    // fits a long long; it may still not fit a narrower time_t.
    const long long moved = start + static_cast<long long>(days) * SecondsPerDay;
    const std::time_t instant = static_cast<std::time_t>(moved);
    if (static_cast<long long>(instant) != moved)
        return std::string();

    std::tm local{};
    if (localtime_r(&instant, &local) == nullptr)
        return std::string();
    // A year beyond the int range could be written but never read back.
    const long long year = static_cast<long long>(local.tm_year) + 1900;
    if (year > INT_MAX)
        return std::string();
    return formatDate(year, static_cast<long long>(local.tm_mon) + 1, local.tm_mday);
}

long long daysBetween(const std::string& from, const std::string& to)
{
    long long start = 0;
    long long end = 0;
    if (!localMidnight(from, start) || !localMidnight(to, end))
        return -1;
    // Both instants come from mktime, whose range is far inside that of long long, so the
    // difference cannot overflow.
    return (end - start) / SecondsPerDay;
}

} // namespace SolvoEarthUtil
