#include "com/ComTypes.h"

#include <cctype>
#include <cstdio>

namespace FB::Com {
namespace {

bool hexDigits(const std::string& text, std::size_t at, std::size_t count, std::uint32_t& value)
{
    value = 0;
    for (std::size_t i = at; i < at + count; ++i)
    {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                                            ? c - '0'
                                                            : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return true;
}

} // namespace

bool Guid::parse(const std::string& text, Guid& guid)
{
    // {01234567-0123-0123-0123-0123456789ab}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-')
        return false;
    Guid read;
    std::uint32_t value = 0;
    if (!hexDigits(text, 1, 8, value))
        return false;
    read.data1 = value;
    if (!hexDigits(text, 10, 4, value))
        return false;
    read.data2 = static_cast<std::uint16_t>(value);
    if (!hexDigits(text, 15, 4, value))
        return false;
    read.data3 = static_cast<std::uint16_t>(value);
    const std::size_t bytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8; ++i)
    {
        if (!hexDigits(text, bytes[i], 2, value))
            return false;
        read.data4[i] = static_cast<std::uint8_t>(value);
    }
    guid = read;
    return true;
}

std::string Guid::toString() const
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", static_cast<unsigned>(data1),
                  static_cast<unsigned>(data2), static_cast<unsigned>(data3), data4[0], data4[1], data4[2], data4[3],
                  data4[4], data4[5], data4[6], data4[7]);
    return text;
}

bool operator==(const Guid& a, const Guid& b)
{
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
        return false;
    for (int i = 0; i < 8; ++i)
    {
        if (a.data4[i] != b.data4[i])
            return false;
    }
    return true;
}

} // namespace FB::Com
