#include "HtmlColour.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace osgEarth::Terrain {

osg::Vec4ub parseHtmlColour(const std::string& text, const osg::Vec4ub& fallback)
{
    const bool hexDigits = text.size() > 1 && std::all_of(text.begin() + 1, text.end(), [](char c) {
                               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                           });
    if (text.empty() || text[0] != '#' || !hexDigits || (text.size() != 7 && text.size() != 9))
    {
        return fallback;
    }
    const auto channel = [&text](size_t i) {
        return static_cast<unsigned char>(std::strtoul(text.substr(1 + 2 * i, 2).c_str(), nullptr, 16));
    };
    return osg::Vec4ub(channel(0), channel(1), channel(2), text.size() == 9 ? channel(3) : 255);
}

} // namespace osgEarth::Terrain
