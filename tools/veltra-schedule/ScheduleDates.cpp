#include "ScheduleDates.h"

#include <cctype>

namespace veltra::schedule {

namespace {

bool digitsAt(const std::string& text, std::size_t pos, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i)
    {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

} // namespace

std::string calendarDateOf(const std::string& raw)
{
    const std::string text = trimmed(raw);
    int year = 0;
    int month = 0;
    int day = 0;
    if (!digitsAt(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !digitsAt(text, 5, 2, month) ||
        text[7] != '-' || !digitsAt(text, 8, 2, day))
        return std::string();
    // Whatever follows must be a time part, not more digits of a longer number.
    if (text.size() > 10 && text[10] != 'T' && text[10] != ' ')
        return std::string();
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return std::string();
    return text.substr(0, 10);
}

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace veltra::schedule
