#include <osgEarthAnnotation/PlaceNode>

#include "ScreenAlignedTransform.h"

#include <osgEarth/MapNode>
#include <osgEarthSymbology/IconSymbol>
#include <osgEarthSymbology/TextSymbol>

#include <osg/BlendFunc>
#include <osg/Depth>
#include <osg/Texture2D>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgText/Font>

#include <cmath>

using namespace osgEarth::Symbology;

namespace osgEarth {
namespace Annotation {

namespace {

const char* const kTag = "[PlaceNode] ";

// After the terrain (bin 0) and ordinary transparent geometry (bin 10), so markers sit on top of both; depth
// sorting lets nearer markers cover farther ones.
const int kRenderBin = 20;

// The offset of the icon's lower-left corner from the anchor, for an icon of w x h pixels aligned as asked.
osg::Vec2d iconOrigin(IconSymbol::Alignment alignment, double w, double h)
{
    double x = -0.5 * w;
    double y = 0.0;
    switch (alignment)
    {
    case IconSymbol::ALIGN_LEFT_TOP:
    case IconSymbol::ALIGN_LEFT_CENTER:
    case IconSymbol::ALIGN_LEFT_BOTTOM: x = 0.0; break;
    case IconSymbol::ALIGN_RIGHT_TOP:
    case IconSymbol::ALIGN_RIGHT_CENTER:
    case IconSymbol::ALIGN_RIGHT_BOTTOM: x = -w; break;
    default: break;
    }
    switch (alignment)
    {
    case IconSymbol::ALIGN_LEFT_TOP:
    case IconSymbol::ALIGN_CENTER_TOP:
    case IconSymbol::ALIGN_RIGHT_TOP: y = -h; break;
    case IconSymbol::ALIGN_LEFT_CENTER:
    case IconSymbol::ALIGN_CENTER_CENTER:
    case IconSymbol::ALIGN_RIGHT_CENTER: y = -0.5 * h; break;
    default: break;
    }
    return osg::Vec2d(x, y);
}

osgText::Text::AlignmentType textAlignment(TextSymbol::Alignment alignment)
{
    switch (alignment)
    {
    case TextSymbol::ALIGN_LEFT_TOP: return osgText::Text::LEFT_TOP;
    case TextSymbol::ALIGN_LEFT_CENTER: return osgText::Text::LEFT_CENTER;
    case TextSymbol::ALIGN_LEFT_BOTTOM: return osgText::Text::LEFT_BOTTOM;
    case TextSymbol::ALIGN_CENTER_TOP: return osgText::Text::CENTER_TOP;
    case TextSymbol::ALIGN_CENTER_CENTER: return osgText::Text::CENTER_CENTER;
    case TextSymbol::ALIGN_CENTER_BOTTOM: return osgText::Text::CENTER_BOTTOM;
    case TextSymbol::ALIGN_RIGHT_TOP: return osgText::Text::RIGHT_TOP;
    case TextSymbol::ALIGN_RIGHT_CENTER: return osgText::Text::RIGHT_CENTER;
    case TextSymbol::ALIGN_RIGHT_BOTTOM: return osgText::Text::RIGHT_BOTTOM;
    case TextSymbol::ALIGN_CENTER_BASE_LINE: return osgText::Text::CENTER_BASE_LINE;
    case TextSymbol::ALIGN_RIGHT_BASE_LINE: return osgText::Text::RIGHT_BASE_LINE;
    case TextSymbol::ALIGN_LEFT_BOTTOM_BASE_LINE: return osgText::Text::LEFT_BOTTOM_BASE_LINE;
    case TextSymbol::ALIGN_CENTER_BOTTOM_BASE_LINE: return osgText::Text::CENTER_BOTTOM_BASE_LINE;
    case TextSymbol::ALIGN_RIGHT_BOTTOM_BASE_LINE: return osgText::Text::RIGHT_BOTTOM_BASE_LINE;
    default: return osgText::Text::LEFT_BASE_LINE;
    }
}

osgText::String::Encoding textEncoding(const optional<TextSymbol::Encoding>& encoding)
{
    // Unset means "whatever the caller passed", and UTF-8 reads plain ASCII unchanged while keeping
    // non-Latin labels intact.
    if (!encoding.isSet())
        return osgText::String::ENCODING_UTF8;
    switch (encoding.get())
    {
    case TextSymbol::ENCODING_ASCII: return osgText::String::ENCODING_ASCII;
    case TextSymbol::ENCODING_UTF16: return osgText::String::ENCODING_UTF16;
    case TextSymbol::ENCODING_UTF32: return osgText::String::ENCODING_UTF32;
    default: return osgText::String::ENCODING_UTF8;
    }
}

} // namespace

PlaceNode::PlaceNode(MapNode* mapNode, const GeoPoint& position, osg::Image* icon, const std::string& text,
                     const Style& style)
    : _mapNode(mapNode), _position(position), _image(icon), _text(text), _style(style)
{
    init();
}

PlaceNode::PlaceNode(MapNode* mapNode, const GeoPoint& position, const std::string& text, const Style& style)
    : _mapNode(mapNode), _position(position), _text(text), _style(style)
{
    loadIconFromStyle();
    init();
}

PlaceNode::PlaceNode(MapNode* mapNode, const GeoPoint& position, const Style& style, const osgDB::Options* readOptions)
    : _mapNode(mapNode), _position(position), _style(style), _readOptions(readOptions)
{
    loadIconFromStyle();
    init();
}

PlaceNode::~PlaceNode() = default;

void PlaceNode::init()
{
    _anchor = new osg::MatrixTransform();
    osg::ref_ptr<ScreenAlignedTransform> screen = new ScreenAlignedTransform();
    _geode = new osg::Geode();
    screen->addChild(_geode.get());
    _anchor->addChild(screen.get());
    addChild(_anchor.get());

    osg::StateSet* state = getOrCreateStateSet();
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    state->setAttributeAndModes(new osg::Depth(osg::Depth::ALWAYS, 0.0, 1.0, false),
                                osg::StateAttribute::ON | osg::StateAttribute::PROTECTED);
    state->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA), osg::StateAttribute::ON);
    state->setMode(GL_CULL_FACE, osg::StateAttribute::OFF);
    state->setRenderBinDetails(kRenderBin, "DepthSortedBin");

    // The icon's opacity lives in the texture environment's constant colour, so changing it touches no geometry.
    _iconOpacity = new osg::TexEnvCombine();
    _iconOpacity->setDataVariance(osg::Object::DYNAMIC);
    _iconOpacity->setCombine_RGB(osg::TexEnvCombine::MODULATE);
    _iconOpacity->setSource0_RGB(osg::TexEnvCombine::TEXTURE);
    _iconOpacity->setSource1_RGB(osg::TexEnvCombine::PRIMARY_COLOR);
    _iconOpacity->setCombine_Alpha(osg::TexEnvCombine::MODULATE);
    _iconOpacity->setSource0_Alpha(osg::TexEnvCombine::TEXTURE);
    _iconOpacity->setSource1_Alpha(osg::TexEnvCombine::CONSTANT);
    _iconOpacity->setConstantColor(osg::Vec4(1.0f, 1.0f, 1.0f, _iconAlpha));

    updateTransform();
    rebuild();
}

void PlaceNode::loadIconFromStyle()
{
    const IconSymbol* icon = _style.get<IconSymbol>();
    if (!icon || !icon->url().isSet())
        return;
    const std::string path = icon->url().get().eval();
    if (path.empty())
        return;
    osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(path, _readOptions.get());
    // A style from a file names its icons relative to that file; try there when the path as given fails.
    if (!image.valid() && !icon->referrer().empty() && !osgDB::isAbsolutePath(path))
    {
        image = osgDB::readRefImageFile(osgDB::concatPaths(osgDB::getFilePath(icon->referrer()), path),
                                        _readOptions.get());
    }
    if (!image.valid())
    {
        OSG_WARN << kTag << "cannot read the icon \"" << path << "\"" << std::endl;
        return;
    }
    _image = image;
}

void PlaceNode::setPosition(const GeoPoint& position)
{
    _position = position;
    updateTransform();
}

void PlaceNode::updateTransform()
{
    // Without terrain to clamp to, a height relative to the ground is taken as a height above the ellipsoid.
    GeoPoint point(_position.getSRS(), _position.vec3d(), ALTMODE_ABSOLUTE);
    osg::ref_ptr<MapNode> mapNode;
    _mapNode.lock(mapNode);
    if (mapNode.valid() && point.isValid() && mapNode->getMapSRS())
    {
        point = point.transform(mapNode->getMapSRS());
    }
    osg::Vec3d world;
    bool placed = false;
    if (point.isValid())
    {
        // A projected map's world is its SRS's own coordinates, even when that SRS is geographic.
        if (mapNode.valid() && !mapNode->isGeocentric())
        {
            world = point.vec3d();
            placed = true;
        }
        else
        {
            placed = point.toWorld(world);
        }
    }
    if (placed)
    {
        _anchor->setMatrix(osg::Matrix::translate(world));
    }
    else if (_position.isValid())
    {
        OSG_WARN << kTag << "cannot place the marker in the map's coordinates" << std::endl;
    }
    _anchor->setNodeMask(placed ? ~0u : 0u);
}

void PlaceNode::setIconImage(osg::Image* image)
{
    _image = image;
    rebuild();
}

void PlaceNode::setText(const std::string& text)
{
    _text = text;
    rebuild();
}

void PlaceNode::setStyle(const Style& style)
{
    _style = style;
    loadIconFromStyle();
    rebuild();
}

void PlaceNode::setDynamic(bool value)
{
    _dynamic = value;
    const osg::Object::DataVariance variance = value ? osg::Object::DYNAMIC : osg::Object::STATIC;
    setDataVariance(variance);
    _anchor->setDataVariance(variance);
    for (unsigned i = 0; i < _geode->getNumDrawables(); ++i)
    {
        _geode->getDrawable(i)->setDataVariance(variance);
    }
}

void PlaceNode::setImageTranspareny(float alpha)
{
    _iconAlpha = std::min(std::max(alpha, 0.0f), 1.0f);
    _iconOpacity->setConstantColor(osg::Vec4(1.0f, 1.0f, 1.0f, _iconAlpha));
}

void PlaceNode::rebuild()
{
    _geode->removeDrawables(0, _geode->getNumDrawables());
    _icon = nullptr;
    _label = nullptr;
    // Without an icon the label starts at the anchor itself.
    double labelX = 0.0;
    double labelY = 0.0;
    if (_image.valid() && _image->s() > 0 && _image->t() > 0)
    {
        buildIcon(labelX, labelY);
        labelX += 2.0;
    }
    buildLabel(labelX, labelY);
    setDynamic(_dynamic);
}

void PlaceNode::buildIcon(double& iconRight, double& iconMiddle)
{
    const IconSymbol* symbol = _style.get<IconSymbol>();
    const double scale = symbol && symbol->scale().isSet() ? symbol->scale().get().eval() : 1.0;
    const double w = _image->s() * scale;
    const double h = _image->t() * scale;
    const osg::Vec2d origin =
        iconOrigin(symbol ? symbol->alignment().get() : IconSymbol::ALIGN_CENTER_BOTTOM, w, h);
    iconRight = origin.x() + w;
    iconMiddle = origin.y() + 0.5 * h;

    // Heading is clockwise from north, i.e. clockwise on screen, about the anchor.
    const double heading =
        symbol && symbol->heading().isSet() ? osg::DegreesToRadians(symbol->heading().get().eval()) : 0.0;
    const double c = std::cos(-heading);
    const double s = std::sin(-heading);
    osg::ref_ptr<osg::Vec3Array> corners = new osg::Vec3Array();
    for (const osg::Vec2d& corner : {origin, origin + osg::Vec2d(w, 0.0), origin + osg::Vec2d(w, h),
                                     origin + osg::Vec2d(0.0, h)})
    {
        corners->push_back(osg::Vec3(static_cast<float>(c * corner.x() - s * corner.y()),
                                     static_cast<float>(s * corner.x() + c * corner.y()), 0.0f));
    }
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array();
    texCoords->push_back(osg::Vec2(0.0f, 0.0f));
    texCoords->push_back(osg::Vec2(1.0f, 0.0f));
    texCoords->push_back(osg::Vec2(1.0f, 1.0f));
    texCoords->push_back(osg::Vec2(0.0f, 1.0f));
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(osg::Array::BIND_OVERALL);
    colours->push_back(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));

    _icon = new osg::Geometry();
    _icon->setName("veltra.place.icon");
    _icon->setUseDisplayList(false);
    _icon->setUseVertexBufferObjects(true);
    _icon->setVertexArray(corners.get());
    _icon->setTexCoordArray(0, texCoords.get());
    _icon->setColorArray(colours.get());
    _icon->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));

    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(_image.get());
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
    texture->setResizeNonPowerOfTwoHint(false);
    osg::StateSet* state = _icon->getOrCreateStateSet();
    state->setDataVariance(osg::Object::DYNAMIC);
    state->setTextureAttributeAndModes(0, texture.get(), osg::StateAttribute::ON);
    state->setTextureAttribute(0, _iconOpacity.get());
    _geode->addDrawable(_icon.get());
}

void PlaceNode::buildLabel(double x, double y)
{
    const TextSymbol* symbol = _style.get<TextSymbol>();
    std::string text = _text;
    if (text.empty() && symbol && symbol->content().isSet())
    {
        text = symbol->content().get().eval();
    }
    if (text.empty())
        return;

    _label = new osgText::Text();
    _label->setName("veltra.place.label");
    if (symbol && symbol->font().isSet() && !symbol->font().get().empty())
    {
        osg::ref_ptr<osgText::Font> font = osgText::readRefFontFile(symbol->font().get(), _readOptions.get());
        if (font.valid())
            _label->setFont(font.get());
    }
    // The screen transform above makes one unit one pixel, so object sizes are pixel sizes.
    _label->setCharacterSizeMode(osgText::Text::OBJECT_COORDS);
    _label->setCharacterSize(symbol ? static_cast<float>(symbol->size().get().eval()) : 16.0f);
    _label->setAxisAlignment(osgText::Text::XY_PLANE);
    _label->setAlignment(symbol ? textAlignment(symbol->alignment().get()) : osgText::Text::LEFT_BASE_LINE);
    _label->setPosition(osg::Vec3(static_cast<float>(x), static_cast<float>(y), 0.0f));
    _label->setColor(symbol && symbol->fill().isSet() ? symbol->fill().get().color() : Color::White);
    if (symbol && symbol->halo().isSet())
    {
        _label->setBackdropType(osgText::Text::OUTLINE);
        _label->setBackdropColor(symbol->halo().get().color());
        _label->setBackdropOffset(symbol->haloOffset().get());
    }
    _label->setText(text, symbol ? textEncoding(symbol->encoding()) : osgText::String::ENCODING_UTF8);
    _geode->addDrawable(_label.get());
}

Config PlaceNode::getConfig() const
{
    Config conf("place");
    if (!_text.empty())
        conf.set("text", _text);
    if (!_style.empty())
        conf.set("style", _style.getConfig());
    if (_position.isValid())
    {
        Config position("position");
        position.set("x", _position.x());
        position.set("y", _position.y());
        position.set("z", _position.z());
        if (!_position.getSRS()->getHorizInitString().empty())
            position.set("srs", _position.getSRS()->getHorizInitString());
        position.set("mode", _position.altitudeMode() == ALTMODE_RELATIVE ? "relative" : "absolute");
        conf.set(position);
    }
    return conf;
}

} // namespace Annotation
} // namespace osgEarth
