#include <osgEarthSymbology/Symbol>

#include "SymbolSupport.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace osgEarth {
namespace Symbology {

Config Symbol::getConfig() const
{
    Config conf(kind());
    writeProperties(conf);
    return conf;
}

void Symbol::mergeConfig(const Config& conf)
{
    for (const Config& child : conf.children())
    {
        parseProperty(normalizeProperty(child.key()), trim(child.value()));
    }
}

std::string Symbol::normalizeProperty(const std::string& name)
{
    std::string normalized = toLower(trim(name));
    for (char& c : normalized)
    {
        if (c == '_')
        {
            c = '-';
        }
    }
    return normalized;
}

namespace detail {

namespace {

const EnumName<Stroke::LineCapStyle> LineCaps[] = {
    {"flat", Stroke::LINECAP_FLAT}, {"square", Stroke::LINECAP_SQUARE}, {"round", Stroke::LINECAP_ROUND}};
const EnumName<Stroke::LineJoinStyle> LineJoins[] = {
    {"miter", Stroke::LINEJOIN_MITRE}, {"mitre", Stroke::LINEJOIN_MITRE}, {"round", Stroke::LINEJOIN_ROUND}};

template <typename T>
bool readFinite(const std::string& value, T& out)
{
    double parsed = 0.0;
    if (!parseText(value, parsed) || !std::isfinite(parsed))
    {
        return false;
    }
    out = static_cast<T>(parsed);
    return true;
}

} // namespace

void readColor(const std::string& value, Color& target)
{
    target = Color(value);
}

void readOpacity(const std::string& value, Color& target)
{
    float opacity = 0.0f;
    if (readFinite(value, opacity))
    {
        target.a() = opacity < 0.0f ? 0.0f : (opacity > 1.0f ? 1.0f : opacity);
    }
}

void readFloat(const std::string& value, optional<float>& target)
{
    double parsed = 0.0;
    // Range-checked before narrowing: a double beyond float's range makes the conversion undefined.
    if (readFinite(value, parsed) && std::fabs(parsed) <= 3.0e38)
    {
        target = static_cast<float>(parsed);
    }
}

void readBool(const std::string& value, optional<bool>& target)
{
    bool parsed = false;
    if (parseText(value, parsed))
    {
        target = parsed;
    }
}

void readUnsigned(const std::string& value, optional<unsigned>& target)
{
    double parsed = 0.0;
    if (readFinite(value, parsed) && parsed >= 0.0 && parsed <= 4294967295.0)
    {
        target = static_cast<unsigned>(parsed);
    }
}

void readText(const std::string& value, optional<std::string>& target)
{
    if (!value.empty())
    {
        target = value;
    }
}

void readNumeric(const std::string& value, optional<NumericExpression>& target)
{
    NumericExpression expr(value);
    if (expr.isValid())
    {
        target = expr;
    }
}

void readString(const std::string& value, optional<StringExpression>& target)
{
    target = StringExpression(value);
}

void readStrokeWidth(const std::string& value, Stroke& stroke)
{
    std::string text = toLower(trim(value));
    Stroke::WidthUnits units = Stroke::UNITS_PIXELS;
    if (endsWith(text, "px"))
    {
        text.resize(text.size() - 2);
    }
    else if (endsWith(text, "m"))
    {
        units = Stroke::UNITS_METERS;
        text.resize(text.size() - 1);
    }
    text = trim(text);
    // The whole remainder must be the number, so "5km" or "wide" leave the width as it was.
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double width = 0.0;
    in >> width;
    if (in.fail() || !(in >> std::ws).eof() || !std::isfinite(width) || width < 0.0 || width > 1.0e30)
    {
        return;
    }
    stroke.width() = static_cast<float>(width);
    stroke.widthUnits() = units;
}

bool readStrokeProperty(const std::string& prefix, const std::string& name, const std::string& value, Stroke& stroke)
{
    if (name == prefix)
        readColor(value, stroke.color());
    else if (name == prefix + "-opacity")
        readOpacity(value, stroke.color());
    else if (name == prefix + "-width")
        readStrokeWidth(value, stroke);
    else if (name == prefix + "-linecap")
        readEnum(value, LineCaps, stroke.lineCap());
    else if (name == prefix + "-linejoin")
        readEnum(value, LineJoins, stroke.lineJoin());
    else if (name == prefix + "-stipple" || name == prefix + "-stipple-pattern")
    {
        // Patterns are 16-bit masks and usually written in hex.
        unsigned parsed = 0;
        if (parseText(value, parsed) && parsed <= 0xFFFFu)
            stroke.stipplePattern() = static_cast<unsigned short>(parsed);
    }
    else if (name == prefix + "-stipple-factor")
        readUnsigned(value, stroke.stippleFactor());
    else if (name == prefix + "-min-pixels")
        readFloat(value, stroke.minPixels());
    else if (name == prefix + "-rounding-ratio")
        readFloat(value, stroke.roundingRatio());
    else
        return false;
    return true;
}

void writeStroke(Config& conf, const std::string& prefix, const Stroke& stroke)
{
    conf.set(prefix, stroke.color().toHTML());
    if (stroke.width().isSet())
    {
        const char* units = stroke.widthUnits().get() == Stroke::UNITS_METERS ? "m" : "px";
        conf.set(prefix + "-width", toString(stroke.width().get()) + units);
    }
    writeEnum(conf, prefix + "-linecap", LineCaps, stroke.lineCap());
    writeEnum(conf, prefix + "-linejoin", LineJoins, stroke.lineJoin());
    if (stroke.stipplePattern().isSet())
    {
        conf.set(prefix + "-stipple-pattern", static_cast<unsigned>(stroke.stipplePattern().get()));
    }
    conf.setIfSet(prefix + "-stipple-factor", stroke.stippleFactor());
    conf.setIfSet(prefix + "-min-pixels", stroke.minPixels());
    conf.setIfSet(prefix + "-rounding-ratio", stroke.roundingRatio());
}

} // namespace detail

} // namespace Symbology
} // namespace osgEarth
