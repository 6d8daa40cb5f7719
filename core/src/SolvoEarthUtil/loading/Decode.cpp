#include <SolvoEarthUtil/loading/Decode.h>

#include <cstdlib>

namespace SolvoEarthUtil {

namespace {

// Deliberately not isxdigit: lower-case letters do not count while ':' to '?' do, and page
// texts are decoded by exactly this rule.
bool countsAsHexDigit(char c)
{
    return (c >= '0' && c <= '?') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string decode(const std::string& text)
{
    std::string result;
    result.reserve(text.size());

    const size_t length = text.size();
    for (size_t i = 0; i < length; ++i)
    {
        const char c = text[i];
        if (c == '+')
        {
            result += ' ';
        }
        else if (c == '%')
        {
            if (i + 1 == length)
            {
                result += c;
            }
            else if (i + 2 < length && countsAsHexDigit(text[i + 1]) && countsAsHexDigit(text[i + 2]))
            {
                // strtoul stops at the first real non-hex character, so "%1:" yields the byte 0x01.
                const char digits[3] = {text[i + 1], text[i + 2], '\0'};
                result += static_cast<char>(std::strtoul(digits, nullptr, 16));
                i += 2;
            }
            // Otherwise the '%' is dropped and the next character is read as any other.
        }
        else
        {
            result += c;
        }
    }
    return result;
}

} // namespace SolvoEarthUtil
