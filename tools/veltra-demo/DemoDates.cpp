#include "veltra-demo/DemoDates.h"

#include <cstdio>

namespace veltra::demo {

namespace {

// Day number counted from 1970-01-01, by eras of 400 years (146097 days) starting in March so
// that the leap day falls at the end of each year.
long long daysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = unsigned(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + (long long)dayOfEra - 719468;
}

void civilFromDays(long long days, long long& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = unsigned(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = (long long)yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

} // namespace

std::string civilDateAfter(int year, int month, int day, int days)
{
    long long resultYear = 0;
    unsigned resultMonth = 0;
    unsigned resultDay = 0;
    civilFromDays(daysFromCivil(year, unsigned(month), unsigned(day)) + days, resultYear, resultMonth, resultDay);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", resultYear, resultMonth, resultDay);
    return text;
}

} // namespace veltra::demo
