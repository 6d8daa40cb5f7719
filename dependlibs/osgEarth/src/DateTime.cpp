#include <osgEarth/DateTime>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace osgEarth {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// About ±300 000 years: wide enough for any sky, narrow enough that every conversion below stays in range.
constexpr double kSecondsLimit = 1.0e13;

long long floorDiv(long long a, long long b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Days since 1970-01-01 of a proleptic Gregorian date, counting in 400-year eras (146097 days each) with years
// starting on 1 March so that the leap day falls at the end of the year.
long long daysFromCivil(long long year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = floorDiv(year, 400);
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

DateTime::DateTime()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    _seconds = std::chrono::duration<double>(sinceEpoch).count();
}

DateTime::DateTime(std::time_t utc) : _seconds(std::clamp(static_cast<double>(utc), -kSecondsLimit, kSecondsLimit))
{}

DateTime::DateTime(int year, int month, int day, double hours)
{
    const long long monthIndex = static_cast<long long>(month) - 1;
    const long long fullYear = static_cast<long long>(year) + floorDiv(monthIndex, 12);
    const int normalMonth = static_cast<int>(monthIndex - floorDiv(monthIndex, 12) * 12) + 1;
    const long long days = daysFromCivil(fullYear, normalMonth, 1) + static_cast<long long>(day) - 1;
    const double hourSeconds = std::isfinite(hours) ? hours * 3600.0 : 0.0;
    const double seconds = static_cast<double>(days) * kSecondsPerDay + hourSeconds;
    _seconds = std::isfinite(seconds) ? std::clamp(seconds, -kSecondsLimit, kSecondsLimit) : 0.0;
}

DateTime::Civil DateTime::civil() const
{
    long long days = static_cast<long long>(std::floor(_seconds / kSecondsPerDay)) + 719468;
    const long long era = floorDiv(days, 146097);
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return Civil{static_cast<int>(year), month, day};
}

int DateTime::year() const
{
    return civil().year;
}

int DateTime::month() const
{
    return civil().month;
}

int DateTime::day() const
{
    return civil().day;
}

double DateTime::hours() const
{
    const double secondsOfDay = _seconds - std::floor(_seconds / kSecondsPerDay) * kSecondsPerDay;
    // Rounding can land exactly on the next day; keep the documented half-open range.
    return std::min(secondsOfDay / 3600.0, std::nextafter(24.0, 0.0));
}

std::time_t DateTime::asTimeStamp() const
{
    return static_cast<std::time_t>(std::floor(_seconds));
}

double DateTime::getJulianDay() const
{
    // The Unix epoch is Julian date 2440587.5.
    return _seconds / kSecondsPerDay + 2440587.5;
}

std::string DateTime::asISO8601() const
{
    const Civil date = civil();
    const long long secondsOfDay = static_cast<long long>(std::floor(hours() * 3600.0 + 1e-6));
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02lld:%02lld:%02lldZ", date.year, date.month, date.day,
                  secondsOfDay / 3600, (secondsOfDay / 60) % 60, secondsOfDay % 60);
    return text;
}

} // namespace osgEarth
