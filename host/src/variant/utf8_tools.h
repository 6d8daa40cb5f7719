#pragma once

#include <string>

namespace FB {

// Converts UTF-8 text to a wide string (UTF-32 or UTF-16, as wide as wchar_t); invalid sequences become U+FFFD.
std::wstring utf8_to_wstring(const std::string& utf8);

// Converts a wide string to UTF-8; unpaired surrogates and values beyond U+10FFFF become U+FFFD.
std::string wstring_to_utf8(const std::wstring& wide);

} // namespace FB
