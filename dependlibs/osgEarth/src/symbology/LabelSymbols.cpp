// Icon and text symbols: what is drawn at a feature's location.
#include <osgEarthSymbology/IconSymbol>
#include <osgEarthSymbology/TextSymbol>

#include "SymbolSupport.h"

namespace osgEarth {
namespace Symbology {

using namespace detail;

namespace {

using Icon = IconSymbol;
using Text = TextSymbol;

const EnumName<Icon::Placement> Placements[] = {{"vertex", Icon::PLACEMENT_VERTEX},
                                                {"interval", Icon::PLACEMENT_INTERVAL},
                                                {"random", Icon::PLACEMENT_RANDOM},
                                                {"centroid", Icon::PLACEMENT_CENTROID}};
const EnumName<Icon::Alignment> IconAlignments[] = {
    {"left-top", Icon::ALIGN_LEFT_TOP},           {"left-center", Icon::ALIGN_LEFT_CENTER},
    {"left-bottom", Icon::ALIGN_LEFT_BOTTOM},     {"center-top", Icon::ALIGN_CENTER_TOP},
    {"center-center", Icon::ALIGN_CENTER_CENTER}, {"center-bottom", Icon::ALIGN_CENTER_BOTTOM},
    {"right-top", Icon::ALIGN_RIGHT_TOP},         {"right-center", Icon::ALIGN_RIGHT_CENTER},
    {"right-bottom", Icon::ALIGN_RIGHT_BOTTOM}};
const EnumName<Text::Alignment> TextAlignments[] = {{"left-top", Text::ALIGN_LEFT_TOP},
                                                    {"left-center", Text::ALIGN_LEFT_CENTER},
                                                    {"left-bottom", Text::ALIGN_LEFT_BOTTOM},
                                                    {"center-top", Text::ALIGN_CENTER_TOP},
                                                    {"center-center", Text::ALIGN_CENTER_CENTER},
                                                    {"center-bottom", Text::ALIGN_CENTER_BOTTOM},
                                                    {"right-top", Text::ALIGN_RIGHT_TOP},
                                                    {"right-center", Text::ALIGN_RIGHT_CENTER},
                                                    {"right-bottom", Text::ALIGN_RIGHT_BOTTOM},
                                                    {"left-base-line", Text::ALIGN_LEFT_BASE_LINE},
                                                    {"center-base-line", Text::ALIGN_CENTER_BASE_LINE},
                                                    {"right-base-line", Text::ALIGN_RIGHT_BASE_LINE},
                                                    {"left-bottom-base-line", Text::ALIGN_LEFT_BOTTOM_BASE_LINE},
                                                    {"center-bottom-base-line", Text::ALIGN_CENTER_BOTTOM_BASE_LINE},
                                                    {"right-bottom-base-line", Text::ALIGN_RIGHT_BOTTOM_BASE_LINE},
                                                    {"base-line", Text::ALIGN_BASE_LINE}};
const EnumName<Text::Layout> Layouts[] = {
    {"ltr", Text::LAYOUT_LEFT_TO_RIGHT}, {"rtl", Text::LAYOUT_RIGHT_TO_LEFT}, {"vertical", Text::LAYOUT_VERTICAL}};
const EnumName<Text::Encoding> Encodings[] = {{"ascii", Text::ENCODING_ASCII},
                                              {"utf-8", Text::ENCODING_UTF8},
                                              {"utf-16", Text::ENCODING_UTF16},
                                              {"utf-32", Text::ENCODING_UTF32}};

} // namespace

bool IconSymbol::parseProperty(const std::string& name, const std::string& value)
{
    if (name == "icon")
        readString(value, _url);
    else if (name == "icon-placement")
        readEnum(value, Placements, _placement);
    else if (name == "icon-align")
        readEnum(value, IconAlignments, _alignment);
    else if (name == "icon-scale")
        readNumeric(value, _scale);
    else if (name == "icon-heading")
        readNumeric(value, _heading);
    else if (name == "icon-declutter")
        readBool(value, _declutter);
    else if (name == "icon-library")
        readText(value, _library);
    else if (name == "icon-density")
        readFloat(value, _density);
    else if (name == "icon-random-seed")
        readUnsigned(value, _randomSeed);
    else if (name == "icon-occlusion-cull")
        readBool(value, _occlusionCull);
    else if (name == "icon-occlusion-cull-altitude")
        readFloat(value, _occlusionCullAltitude);
    else
        return false;
    return true;
}

void IconSymbol::writeProperties(Config& conf) const
{
    writeExpression(conf, "icon", _url);
    writeEnum(conf, "icon-placement", Placements, _placement);
    writeEnum(conf, "icon-align", IconAlignments, _alignment);
    writeExpression(conf, "icon-scale", _scale);
    writeExpression(conf, "icon-heading", _heading);
    conf.setIfSet("icon-declutter", _declutter);
    conf.setIfSet("icon-library", _library);
    conf.setIfSet("icon-density", _density);
    conf.setIfSet("icon-random-seed", _randomSeed);
    conf.setIfSet("icon-occlusion-cull", _occlusionCull);
    conf.setIfSet("icon-occlusion-cull-altitude", _occlusionCullAltitude);
}

TextSymbol::TextSymbol()
{
    _fill.init(Fill(Color::White));
    _halo.init(Stroke(Color(0.3f, 0.3f, 0.3f, 1.0f)));
}

bool TextSymbol::parseProperty(const std::string& name, const std::string& value)
{
    if (name == "text-content" || name == "text")
        readString(value, _content);
    else if (name == "text-fill" || name == "text-color")
        readColor(value, _fill.mutable_value().color());
    else if (name == "text-fill-opacity")
        readOpacity(value, _fill.mutable_value().color());
    else if (name == "text-size")
        readNumeric(value, _size);
    else if (name == "text-font")
        readText(value, _font);
    else if (name == "text-halo" || name == "text-halo-color")
        readColor(value, _halo.mutable_value().color());
    else if (name == "text-halo-offset")
        readFloat(value, _haloOffset);
    else if (name == "text-align")
        readEnum(value, TextAlignments, _alignment);
    else if (name == "text-layout")
        readEnum(value, Layouts, _layout);
    else if (name == "text-encoding")
        readEnum(value, Encodings, _encoding);
    else if (name == "text-declutter")
        readBool(value, _declutter);
    else if (name == "text-priority")
        readNumeric(value, _priority);
    else if (name == "text-provider")
        readText(value, _provider);
    else if (name == "text-remove-duplicate-labels")
        readBool(value, _removeDuplicateLabels);
    else if (name == "text-occlusion-cull")
        readBool(value, _occlusionCull);
    else if (name == "text-occlusion-cull-altitude")
        readFloat(value, _occlusionCullAltitude);
    else
        return false;
    return true;
}

void TextSymbol::writeProperties(Config& conf) const
{
    writeExpression(conf, "text-content", _content);
    if (_fill.isSet())
        conf.set("text-fill", _fill->color().toHTML());
    writeExpression(conf, "text-size", _size);
    conf.setIfSet("text-font", _font);
    if (_halo.isSet())
        conf.set("text-halo", _halo->color().toHTML());
    conf.setIfSet("text-halo-offset", _haloOffset);
    writeEnum(conf, "text-align", TextAlignments, _alignment);
    writeEnum(conf, "text-layout", Layouts, _layout);
    writeEnum(conf, "text-encoding", Encodings, _encoding);
    conf.setIfSet("text-declutter", _declutter);
    writeExpression(conf, "text-priority", _priority);
    conf.setIfSet("text-provider", _provider);
    conf.setIfSet("text-remove-duplicate-labels", _removeDuplicateLabels);
    conf.setIfSet("text-occlusion-cull", _occlusionCull);
    conf.setIfSet("text-occlusion-cull-altitude", _occlusionCullAltitude);
}

} // namespace Symbology
} // namespace osgEarth
