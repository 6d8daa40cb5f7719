#include <SolvoEarthKits/progress/WbsOrder.h>

#include <SolvoEarthKits/progress/LeadingInteger.h>

namespace SolvoEarthUtil {

bool wbsLess(const std::string& a, const std::string& b)
{
    std::size_t pa = 0;
    std::size_t pb = 0;
    // Numbers too long for a long long saturate, so absurd codes still order deterministically.
    for (;;)
    {
        const long long na = readLeadingInteger(a, pa).value;
        const long long nb = readLeadingInteger(b, pb).value;
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
