#include <osgEarth/StringUtils>

#include <algorithm>

namespace osgEarth {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// std::tolower depends on the global C locale and is undefined for negative chars; configuration keys are ASCII.
char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalBytes(const std::string& text, std::size_t offset, const std::string& pattern, bool caseSensitive)
{
    for (std::size_t i = 0; i < pattern.size(); ++i)
    {
        char a = text[offset + i];
        char b = pattern[i];
        if (caseSensitive ? a != b : asciiLower(a) != asciiLower(b))
        {
            return false;
        }
    }
    return true;
}

} // namespace

std::string trim(const std::string& text)
{
    std::size_t first = 0;
    while (first < text.size() && isBlank(text[first]))
    {
        ++first;
    }
    std::size_t last = text.size();
    while (last > first && isBlank(text[last - 1]))
    {
        --last;
    }
    return text.substr(first, last - first);
}

std::string toLower(const std::string& text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), asciiLower);
    return result;
}

bool startsWith(const std::string& text, const std::string& pattern, bool caseSensitive)
{
    return pattern.size() <= text.size() && equalBytes(text, 0, pattern, caseSensitive);
}

bool endsWith(const std::string& text, const std::string& pattern, bool caseSensitive)
{
    return pattern.size() <= text.size() && equalBytes(text, text.size() - pattern.size(), pattern, caseSensitive);
}

namespace detail {

bool parseBool(const std::string& text, bool& out)
{
    const std::string word = toLower(trim(text));
    if (word == "true" || word == "yes" || word == "on")
    {
        out = true;
        return true;
    }
    if (word == "false" || word == "no" || word == "off")
    {
        out = false;
        return true;
    }
    return false;
}

bool isHexNumber(const std::string& text)
{
    const std::string word = trim(text);
    std::size_t start = (!word.empty() && (word[0] == '-' || word[0] == '+')) ? 1 : 0;
    return word.size() > start + 1 && word[start] == '0' && (word[start + 1] == 'x' || word[start + 1] == 'X');
}

} // namespace detail

} // namespace osgEarth
