#include <SolvoEarthKits/progress/NodeId.h>

#include <SolvoEarthKits/progress/LeadingInteger.h>

#include <climits>

namespace SolvoEarthUtil {

namespace {

// atoi's reading of the text from `pos` (no digits reads 0), or -1 when the number does not fit an
// int: a name like "Wall [99999999999]" must not alias some other element after wrapping around.
int readId(const std::string& name, std::size_t pos)
{
    const LeadingInteger number = readLeadingInteger(name, pos);
    if (number.overflow || number.value < INT_MIN || number.value > INT_MAX)
        return -1;
    return static_cast<int>(number.value);
}

} // namespace

int nodeIdFromName(const std::string& name)
{
    const std::size_t open = name.rfind('[');
    const std::size_t close = name.rfind(']');
    // "Beam[]" and "a]b[" carry no bracketed number; such names may still carry one after a ':'.
    if (open != std::string::npos && close != std::string::npos && close > open + 1)
        return readId(name, open + 1);

    const std::size_t colon = name.rfind(':');
    if (colon != std::string::npos)
        return readId(name, colon + 1);
    return -1;
}

} // namespace SolvoEarthUtil
