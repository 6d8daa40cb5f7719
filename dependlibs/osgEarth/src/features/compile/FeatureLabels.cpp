#include "FeatureLabels.h"

#include "../../annotation/MarkerDrawing.h"
#include "../../annotation/ScreenAlignedTransform.h"

#include <osg/Geode>
#include <osg/Notify>

#include <algorithm>
#include <cmath>
#include <vector>

namespace osgEarth::Features {

using namespace osgEarth::Symbology;
using namespace osgEarth::Annotation::MarkerDrawing;

namespace {

const char* const kTag = "[FeatureLabels] ";

// Where the horizontal line at `y` crosses the edges of `ring`, half-open in y so a vertex on the line counts once.
void crossings(const std::vector<osg::Vec3d>& ring, double y, std::vector<double>& xs)
{
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
    {
        const osg::Vec3d& a = ring[j];
        const osg::Vec3d& b = ring[i];
        if ((a.y() <= y) != (b.y() <= y))
            xs.push_back(a.x() + (y - a.y()) / (b.y() - a.y()) * (b.x() - a.x()));
    }
}

std::vector<const std::vector<osg::Vec3d>*> ringsOf(const Geometry& part)
{
    std::vector<const std::vector<osg::Vec3d>*> rings{&part.points()};
    if (part.getType() == Geometry::TYPE_POLYGON)
        for (const auto& hole : static_cast<const Polygon&>(part).getHoles())
            if (hole && !hole->points().empty())
                rings.push_back(&hole->points());
    return rings;
}

// Inside the outline and outside every hole (even-odd).
bool inside(const std::vector<const std::vector<osg::Vec3d>*>& rings, double x, double y)
{
    std::vector<double> xs;
    for (const auto* ring : rings)
        crossings(*ring, y, xs);
    return std::count_if(xs.begin(), xs.end(), [x](double cx) { return cx > x; }) % 2 == 1;
}

// The middle of the widest stretch of the area along the horizontal line at `y`; false when the line misses it.
bool widestSpan(const std::vector<const std::vector<osg::Vec3d>*>& rings, double y, osg::Vec2d& middle)
{
    std::vector<double> xs;
    for (const auto* ring : rings)
        crossings(*ring, y, xs);
    std::sort(xs.begin(), xs.end());
    double widest = -1.0;
    for (std::size_t i = 0; i + 1 < xs.size(); i += 2)
    {
        if (xs[i + 1] - xs[i] > widest)
        {
            widest = xs[i + 1] - xs[i];
            middle = osg::Vec2d(0.5 * (xs[i] + xs[i + 1]), y);
        }
    }
    return widest > 0.0;
}

bool polygonAnchor(const Geometry& part, osg::Vec3d& anchor)
{
    const std::vector<osg::Vec3d>& ring = part.points();
    double area2 = 0.0, cx = 0.0, cy = 0.0, z = 0.0, yMin = ring[0].y(), yMax = ring[0].y();
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
    {
        const double cross = ring[j].x() * ring[i].y() - ring[i].x() * ring[j].y();
        area2 += cross;
        cx += (ring[j].x() + ring[i].x()) * cross;
        cy += (ring[j].y() + ring[i].y()) * cross;
        z += ring[i].z();
        yMin = std::min(yMin, ring[i].y());
        yMax = std::max(yMax, ring[i].y());
    }
    z /= double(ring.size());
    if (std::abs(area2) <= 1e-18)
        return false;
    osg::Vec2d centre(cx / (3.0 * area2), cy / (3.0 * area2));

    // A bent or holed outline can have its centroid outside the area; a label there would name empty ground.
    const auto rings = ringsOf(part);
    if (!inside(rings, centre.x(), centre.y()))
    {
        osg::Vec2d middle;
        if (widestSpan(rings, centre.y(), middle) || widestSpan(rings, 0.5 * (yMin + yMax), middle))
            centre = middle;
    }
    anchor.set(centre.x(), centre.y(), z);
    return true;
}

bool lineAnchor(const std::vector<osg::Vec3d>& points, osg::Vec3d& anchor)
{
    double total = 0.0;
    for (std::size_t i = 1; i < points.size(); ++i)
        total += (points[i] - points[i - 1]).length();
    double remaining = 0.5 * total;
    for (std::size_t i = 1; i < points.size(); ++i)
    {
        const double step = (points[i] - points[i - 1]).length();
        if (step > 0.0 && remaining <= step)
        {
            anchor = points[i - 1] + (points[i] - points[i - 1]) * (remaining / step);
            return true;
        }
        remaining -= step;
    }
    anchor = points.front();
    return true;
}

} // namespace

bool labelAnchor(const Geometry& part, osg::Vec3d& anchor)
{
    if (part.points().empty())
        return false;
    switch (part.getType())
    {
    case Geometry::TYPE_POINT:
    case Geometry::TYPE_POINTSET: anchor = part.points().front(); return true;
    case Geometry::TYPE_LINESTRING: return lineAnchor(part.points(), anchor);
    case Geometry::TYPE_RING:
    case Geometry::TYPE_POLYGON: return part.points().size() >= 3 && polygonAnchor(part, anchor);
    default: return false;
    }
}

FeatureLabels::FeatureLabels(const Style& style, const osgDB::Options* readOptions) : _readOptions(readOptions)
{
    const TextSymbol* text = style.get<TextSymbol>();
    if (text && text->content().isSet())
        _text = text;
    const IconSymbol* icon = style.get<IconSymbol>();
    if (icon && icon->url().isSet())
        _icon = icon;
    if (!active())
        return;
    _font = readFont(_text.get(), readOptions);
    // One state for every marker of the compile.
    _markerState = new osg::StateSet();
    applyMarkerState(*_markerState);
}

const FeatureLabels::Icon& FeatureLabels::icon(const std::string& uri)
{
    auto found = _icons.find(uri);
    if (found != _icons.end())
        return found->second;
    Icon& entry = _icons[uri];
    entry.image = readIcon(uri, _icon->referrer(), _readOptions.get());
    if (!entry.image.valid())
    {
        // Remembered as unreadable, so a thousand features naming it cost one read and one warning.
        OSG_WARN << kTag << "cannot read the icon \"" << uri << "\"" << std::endl;
        return entry;
    }
    entry.state = new osg::StateSet();
    entry.state->setTextureAttributeAndModes(0, iconTexture(entry.image.get()).get(), osg::StateAttribute::ON);
    return entry;
}

osg::ref_ptr<osg::MatrixTransform> FeatureLabels::build(const AttributeMap& attributes, FeatureID fid, bool tag)
{
    if (!active())
        return nullptr;
    osg::ref_ptr<osg::Geode> geode = new osg::Geode();

    // Without an icon the label starts at the anchor itself.
    osg::Vec2d labelStart(0.0, 0.0);
    const std::string uri = _icon.valid() ? _icon->url().get().eval(attributes) : std::string();
    if (!uri.empty())
    {
        const Icon& entry = icon(uri);
        if (entry.image.valid())
        {
            const double scale = usableIconScale(_icon->scale().isSet() ? _icon->scale().get().eval(attributes) : 1.0);
            const double heading = _icon->heading().isSet() ? _icon->heading().get().eval(attributes) : 0.0;
            osg::ref_ptr<osg::Geometry> quad = iconQuad(entry.image->s() * scale, entry.image->t() * scale,
                                                        _icon->alignment().get(), heading, labelStart);
            quad->setName("veltra.features.icon");
            quad->setStateSet(entry.state.get());
            geode->addDrawable(quad.get());
        }
    }

    const std::string text = _text.valid() ? _text->content().get().eval(attributes) : std::string();
    if (!text.empty())
    {
        osg::ref_ptr<osgText::Text> label =
            makeLabel(text, _text.get(), _text->size().get().eval(attributes), _font.get(), labelStart);
        label->setName("veltra.features.text");
        geode->addDrawable(label.get());
    }
    if (geode->getNumDrawables() == 0)
        return nullptr;

    osg::ref_ptr<Annotation::ScreenAlignedTransform> screen = new Annotation::ScreenAlignedTransform();
    screen->addChild(geode.get());
    osg::ref_ptr<osg::MatrixTransform> anchor = new osg::MatrixTransform();
    anchor->setName("veltra.features.label");
    anchor->setStateSet(_markerState.get());
    anchor->addChild(screen.get());
    // On the transform rather than a geode: removal by feature walks nodes for tags but does not look inside
    // geodes' own user data.
    if (tag)
        anchor->setUserData(new RefFeatureID(fid));
    return anchor;
}

} // namespace osgEarth::Features
