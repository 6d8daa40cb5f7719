#pragma once

#include <osgEarth/Config>
#include <osgEarth/StringUtils>
#include <osgEarthSymbology/Color>
#include <osgEarthSymbology/Expression>
#include <osgEarthSymbology/Stroke>

#include <string>

// Property reading and writing shared by the symbol kinds. Every reader leaves its target alone when the text
// does not parse, so a bad value in a style sheet keeps the default.
namespace osgEarth {
namespace Symbology {
namespace detail {

template <typename E>
struct EnumName
{
    const char* text;
    E value;
};

template <typename E, std::size_t N>
void readEnum(const std::string& value, const EnumName<E> (&table)[N], optional<E>& target)
{
    const std::string wanted = toLower(value);
    for (const auto& entry : table)
    {
        if (wanted == entry.text)
        {
            target = entry.value;
            return;
        }
    }
}

// The first name listed for a value is the one written.
template <typename E, std::size_t N>
void writeEnum(Config& conf, const std::string& key, const EnumName<E> (&table)[N], const optional<E>& source)
{
    if (!source.isSet())
    {
        return;
    }
    for (const auto& entry : table)
    {
        if (entry.value == source.get())
        {
            conf.set(key, std::string(entry.text));
            return;
        }
    }
}

template <typename Expr>
void writeExpression(Config& conf, const std::string& key, const optional<Expr>& source)
{
    if (source.isSet())
    {
        conf.set(key, source->expr());
    }
}

/// Replaces all four components, alpha included, as a colour property does.
void readColor(const std::string& value, Color& target);
/// Sets the alpha from a number in 0..1 (clamped); non-numbers are ignored.
void readOpacity(const std::string& value, Color& target);
void readFloat(const std::string& value, optional<float>& target);
void readBool(const std::string& value, optional<bool>& target);
void readUnsigned(const std::string& value, optional<unsigned>& target);
void readText(const std::string& value, optional<std::string>& target);
void readNumeric(const std::string& value, optional<NumericExpression>& target);
void readString(const std::string& value, optional<StringExpression>& target);
/// `2`, `2px`, `2 px` or `5m`: the width and its units, both or neither.
void readStrokeWidth(const std::string& value, Stroke& stroke);
/// Handles `<prefix>`, `<prefix>-opacity`, `-width`, `-linecap`, `-linejoin`, `-stipple[-pattern]`,
/// `-stipple-factor`, `-min-pixels` and `-rounding-ratio`; false for other names.
bool readStrokeProperty(const std::string& prefix, const std::string& name, const std::string& value, Stroke& stroke);
void writeStroke(Config& conf, const std::string& prefix, const Stroke& stroke);

} // namespace detail
} // namespace Symbology
} // namespace osgEarth
