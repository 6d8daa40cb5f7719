#include <osgEarthAnnotation/PlaceNode>

#include "MarkerDrawing.h"
#include "ScreenAlignedTransform.h"

#include <osgEarth/MapNode>
#include <osgEarthSymbology/IconSymbol>
#include <osgEarthSymbology/TextSymbol>

#include <algorithm>
#include <cmath>

using namespace osgEarth::Symbology;
using namespace osgEarth::Annotation::MarkerDrawing;

namespace osgEarth {
namespace Annotation {

namespace {

const char* const kTag = "[PlaceNode] ";

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

    applyMarkerState(*getOrCreateStateSet());

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
    osg::ref_ptr<osg::Image> image = readIcon(path, icon->referrer(), _readOptions.get());
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
        buildIcon(labelX, labelY);
    buildLabel(labelX, labelY);
    setDynamic(_dynamic);
}

void PlaceNode::buildIcon(double& labelX, double& labelY)
{
    const IconSymbol* symbol = _style.get<IconSymbol>();
    const double scale = usableIconScale(symbol && symbol->scale().isSet() ? symbol->scale().get().eval() : 1.0);
    const double heading = symbol && symbol->heading().isSet() ? symbol->heading().get().eval() : 0.0;
    osg::Vec2d labelStart;
    _icon = iconQuad(_image->s() * scale, _image->t() * scale,
                     symbol ? symbol->alignment().get() : IconSymbol::ALIGN_CENTER_BOTTOM, heading, labelStart);
    _icon->setName("veltra.place.icon");
    labelX = labelStart.x();
    labelY = labelStart.y();

    osg::StateSet* state = _icon->getOrCreateStateSet();
    state->setDataVariance(osg::Object::DYNAMIC);
    state->setTextureAttributeAndModes(0, iconTexture(_image.get()).get(), osg::StateAttribute::ON);
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

    const osg::ref_ptr<osgText::Font> font = readFont(symbol, _readOptions.get());
    const double size = symbol ? symbol->size().get().eval() : kDefaultTextSize;
    _label = makeLabel(text, symbol, size, font.get(), osg::Vec2d(x, y));
    _label->setName("veltra.place.label");
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
