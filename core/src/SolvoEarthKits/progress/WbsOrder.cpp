#include <SolvoEarthKits/progress/WbsOrder.h>

#include <climits>

namespace SolvoEarthUtil {

namespace {

// atoi's reading of the component starting at `pos`, saturating instead of overflowing: WBS codes
// come from user files and an absurdly long component must still order deterministically.
long long componentValue(const std::string& code, std::size_t pos)
{
    while (pos < code.size() && (code[pos] == ' ' || (code[pos] >= '\t' && code[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < code.size() && (code[pos] == '+' || code[pos] == '-'))
    {
        negative = code[pos] == '-';
        ++pos;
    }
    // Accumulated as a negative number, whose range includes LLONG_MIN.
    long long value = 0;
    bool saturated = false;
    for (; pos < code.size() && code[pos] >= '0' && code[pos] <= '9'; ++pos)
    {
        const int digit = code[pos] - '0';
        if (saturated || value < (LLONG_MIN + digit) / 10)
            saturated = true;
        else
            value = value * 10 - digit;
    }
    if (negative)
        return saturated ? LLONG_MIN : value;
    if (saturated || value == LLONG_MIN)
        return LLONG_MAX;
    return -value;
}

} // namespace

bool wbsLess(const std::string& a, const std::string& b)
{
    std::size_t pa = 0;
    std::size_t pb = 0;
    for (;;)
    {
        const long long na = componentValue(a, pa);
        const long long nb = componentValue(b, pb);
        if (na != nb)
            return na < nb;
        // The search starts one past the component's first byte, so a component that is itself
        // empty ("1..2") swallows the dot that follows it.
        const std::size_t da = a.find('.', pa + 1);
        const std::size_t db = b.find('.', pb + 1);
        if (da == std::string::npos)
            return db != std::string::npos;
        if (db == std::string::npos)
            return false;
        pa = da + 1;
        pb = db + 1;
    }
}

} // namespace SolvoEarthUtil
