#include "variant/utf8_tools.h"

#include <cstdint>
#include <iterator>

#include <utf8.h>

namespace FB {

namespace {

constexpr std::uint32_t replacementCharacter = 0xFFFD;

bool isSurrogate(std::uint32_t cp)
{
    return cp >= 0xD800 && cp <= 0xDFFF;
}

} // namespace

std::wstring utf8_to_wstring(const std::string& utf8)
{
    // Page text and file contents are not trusted: repair first so the decoding below cannot throw.
    std::string valid;
    valid.reserve(utf8.size());
    utf8::replace_invalid(utf8.begin(), utf8.end(), std::back_inserter(valid));

    std::wstring wide;
    wide.reserve(valid.size());
    if constexpr (sizeof(wchar_t) >= 4)
        utf8::unchecked::utf8to32(valid.begin(), valid.end(), std::back_inserter(wide));
    else
        utf8::unchecked::utf8to16(valid.begin(), valid.end(), std::back_inserter(wide));
    return wide;
}

std::string wstring_to_utf8(const std::wstring& wide)
{
    std::string utf8;
    utf8.reserve(wide.size());
    auto out = std::back_inserter(utf8);
    for (std::size_t i = 0; i < wide.size(); ++i)
    {
        std::uint32_t cp = static_cast<std::uint32_t>(wide[i]);
        if constexpr (sizeof(wchar_t) == 2)
        {
            cp &= 0xFFFF;
            // UTF-16: join a high surrogate with the low one that follows; anything unpaired is replaced.
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size())
            {
                const std::uint32_t low = static_cast<std::uint32_t>(wide[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low <= 0xDFFF)
                {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (isSurrogate(cp) || cp > 0x10FFFF)
            cp = replacementCharacter;
        out = utf8::unchecked::append(cp, out);
    }
    return utf8;
}

} // namespace FB
