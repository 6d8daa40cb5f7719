#include <osgEarthSymbology/Color>

#include <osgEarth/StringUtils>

#include <cstdio>

namespace osgEarth {
namespace Symbology {

const Color Color::White(1.0f, 1.0f, 1.0f, 1.0f);
const Color Color::Black(0.0f, 0.0f, 0.0f, 1.0f);
const Color Color::Gray(0.5f, 0.5f, 0.5f, 1.0f);

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

Color::Color(const std::string& hex) : Color()
{
    std::string digits = trim(hex);
    if (startsWith(digits, "#"))
    {
        digits.erase(0, 1);
    }
    else if (startsWith(digits, "0x", false))
    {
        digits.erase(0, 2);
    }
    if (digits.size() != 6 && digits.size() != 8)
    {
        return;
    }
    float components[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    for (std::size_t i = 0; i < digits.size(); i += 2)
    {
        const int high = hexDigit(digits[i]);
        const int low = hexDigit(digits[i + 1]);
        if (high < 0 || low < 0)
        {
            return;
        }
        components[i / 2] = static_cast<float>(high * 16 + low) / 255.0f;
    }
    set(components[0], components[1], components[2], components[3]);
}

std::string Color::toHTML() const
{
    auto byte = [](float component) {
        // Written so that NaN lands on 0 instead of reaching an undefined float-to-integer conversion.
        const float clamped = component > 0.0f ? (component < 1.0f ? component : 1.0f) : 0.0f;
        return static_cast<unsigned>(clamped * 255.0f + 0.5f);
    };
    char text[10];
    std::snprintf(text, sizeof(text), "#%02x%02x%02x%02x", byte(r()), byte(g()), byte(b()), byte(a()));
    return text;
}

} // namespace Symbology
} // namespace osgEarth
