#include <SolvoEarthKits/progress/LeadingInteger.h>

#include <climits>

namespace SolvoEarthUtil {

LeadingInteger readLeadingInteger(const std::string& text, std::size_t pos)
{
    LeadingInteger result;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
    {
        negative = text[pos] == '-';
        ++pos;
    }
    // Accumulated as a negative number, whose range includes LLONG_MIN.
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
    {
        result.digits = true;
        const int digit = text[pos] - '0';
        if (result.overflow || value < (LLONG_MIN + digit) / 10)
            result.overflow = true;
        else
            value = value * 10 - digit;
    }
    result.end = pos;
    if (negative)
        result.value = result.overflow ? LLONG_MIN : value;
    else if (result.overflow || value == LLONG_MIN)
    {
        result.overflow = true;
        result.value = LLONG_MAX;
    }
    else
        result.value = -value;
    return result;
}

} // namespace SolvoEarthUtil
