// Extrusion and altitude symbols: how geometry is raised and placed against the terrain.
#include <osgEarthSymbology/AltitudeSymbol>
#include <osgEarthSymbology/ExtrusionSymbol>

#include "SymbolSupport.h"

namespace osgEarth {
namespace Symbology {

using namespace detail;

namespace {

using Alt = AltitudeSymbol;

const EnumName<Alt::Clamping> Clampings[] = {{"none", Alt::CLAMP_NONE},
                                             {"terrain", Alt::CLAMP_TO_TERRAIN},
                                             {"relative", Alt::CLAMP_RELATIVE_TO_TERRAIN},
                                             {"absolute", Alt::CLAMP_ABSOLUTE}};
const EnumName<Alt::Technique> Techniques[] = {{"map", Alt::TECHNIQUE_MAP},
                                               {"scene", Alt::TECHNIQUE_SCENE},
                                               {"gpu", Alt::TECHNIQUE_GPU},
                                               {"drape", Alt::TECHNIQUE_DRAPE}};
const EnumName<Alt::Binding> Bindings[] = {{"vertex", Alt::BINDING_VERTEX}, {"centroid", Alt::BINDING_CENTROID}};

// The combined clamping names set the technique too.
struct CombinedClamping
{
    const char* text;
    Alt::Clamping clamping;
    Alt::Technique technique;
};
const CombinedClamping CombinedClampings[] = {{"terrain-drape", Alt::CLAMP_TO_TERRAIN, Alt::TECHNIQUE_DRAPE},
                                              {"terrain-gpu", Alt::CLAMP_TO_TERRAIN, Alt::TECHNIQUE_GPU},
                                              {"terrain-scene", Alt::CLAMP_TO_TERRAIN, Alt::TECHNIQUE_SCENE},
                                              {"relative-gpu", Alt::CLAMP_RELATIVE_TO_TERRAIN, Alt::TECHNIQUE_GPU},
                                              {"relative-scene", Alt::CLAMP_RELATIVE_TO_TERRAIN, Alt::TECHNIQUE_SCENE}};

} // namespace

bool ExtrusionSymbol::parseProperty(const std::string& name, const std::string& value)
{
    if (name == "extrusion-height")
        readNumeric(value, _height);
    else if (name == "extrusion-flatten")
        readBool(value, _flatten);
    else if (name == "extrusion-wall-style")
        readText(value, _wallStyleName);
    else if (name == "extrusion-roof-style")
        readText(value, _roofStyleName);
    else if (name == "extrusion-wall-gradient")
        readFloat(value, _wallGradient);
    else
        return false;
    return true;
}

void ExtrusionSymbol::writeProperties(Config& conf) const
{
    writeExpression(conf, "extrusion-height", _height);
    conf.setIfSet("extrusion-flatten", _flatten);
    conf.setIfSet("extrusion-wall-style", _wallStyleName);
    conf.setIfSet("extrusion-roof-style", _roofStyleName);
    conf.setIfSet("extrusion-wall-gradient", _wallGradient);
}

bool AltitudeSymbol::parseProperty(const std::string& name, const std::string& value)
{
    if (name == "altitude-clamping")
    {
        const std::string wanted = toLower(value);
        for (const auto& combined : CombinedClampings)
        {
            if (wanted == combined.text)
            {
                _clamping = combined.clamping;
                _technique = combined.technique;
                return true;
            }
        }
        readEnum(value, Clampings, _clamping);
    }
    else if (name == "altitude-technique")
        readEnum(value, Techniques, _technique);
    else if (name == "altitude-binding")
        readEnum(value, Bindings, _binding);
    else if (name == "altitude-offset")
        readNumeric(value, _offset);
    else if (name == "altitude-scale")
        readNumeric(value, _scale);
    else if (name == "altitude-resolution")
        readFloat(value, _resolution);
    else
        return false;
    return true;
}

void AltitudeSymbol::writeProperties(Config& conf) const
{
    writeEnum(conf, "altitude-clamping", Clampings, _clamping);
    writeEnum(conf, "altitude-technique", Techniques, _technique);
    writeEnum(conf, "altitude-binding", Bindings, _binding);
    writeExpression(conf, "altitude-offset", _offset);
    writeExpression(conf, "altitude-scale", _scale);
    conf.setIfSet("altitude-resolution", _resolution);
}

} // namespace Symbology
} // namespace osgEarth
