// Polygon, line and point symbols: the plain drawing properties.
#include <osgEarthSymbology/LineSymbol>
#include <osgEarthSymbology/PointSymbol>
#include <osgEarthSymbology/PolygonSymbol>

#include "SymbolSupport.h"

namespace osgEarth {
namespace Symbology {

using namespace detail;

bool PolygonSymbol::parseProperty(const std::string& name, const std::string& value)
{
    if (name == "fill")
        readColor(value, _fill.mutable_value().color());
    else if (name == "fill-opacity")
        readOpacity(value, _fill.mutable_value().color());
    else
        return false;
    return true;
}

void PolygonSymbol::writeProperties(Config& conf) const
{
    if (_fill.isSet())
    {
        conf.set("fill", _fill->color().toHTML());
    }
}

bool LineSymbol::parseProperty(const std::string& name, const std::string& value)
{
    if (name == "stroke-tessellation-size")
    {
        optional<float> size;
        readFloat(value, size);
        if (size.isSet())
            _tessellationSize = static_cast<double>(size.get());
        return true;
    }
    if (name == "stroke-tessellation")
    {
        readUnsigned(value, _tessellation);
        return true;
    }
    if (name == "stroke-crease-angle")
    {
        readFloat(value, _creaseAngle);
        return true;
    }
    // Only mark the stroke set when the property is really a stroke's, so stray names leave the symbol unset.
    Stroke stroke = _stroke.get();
    if (!readStrokeProperty("stroke", name, value, stroke))
    {
        return false;
    }
    _stroke = stroke;
    return true;
}

void LineSymbol::writeProperties(Config& conf) const
{
    if (_stroke.isSet())
    {
        writeStroke(conf, "stroke", _stroke.get());
    }
    conf.setIfSet("stroke-tessellation-size", _tessellationSize);
    conf.setIfSet("stroke-tessellation", _tessellation);
    conf.setIfSet("stroke-crease-angle", _creaseAngle);
}

bool PointSymbol::parseProperty(const std::string& name, const std::string& value)
{
    if (name == "point-fill")
        readColor(value, _fill.mutable_value().color());
    else if (name == "point-fill-opacity")
        readOpacity(value, _fill.mutable_value().color());
    else if (name == "point-size")
        readFloat(value, _size);
    else
        return false;
    return true;
}

void PointSymbol::writeProperties(Config& conf) const
{
    if (_fill.isSet())
    {
        conf.set("point-fill", _fill->color().toHTML());
    }
    conf.setIfSet("point-size", _size);
}

} // namespace Symbology
} // namespace osgEarth
