#include "FeatureCompiler.h"

#include "FeatureLabels.h"
#include "LineRibbon.h"
#include "PolygonMesh.h"

#include <osgEarthSymbology/AltitudeSymbol>
#include <osgEarthSymbology/ExtrusionSymbol>
#include <osgEarthSymbology/LineSymbol>
#include <osgEarthSymbology/PointSymbol>
#include <osgEarthSymbology/PolygonSymbol>

#include <osg/BlendFunc>
#include <osg/BufferObject>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/LineWidth>
#include <osg/MatrixTransform>
#include <osg/Point>
#include <osg/PolygonOffset>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace osgEarth::Features {

using namespace osgEarth::Symbology;

namespace {

const char* const kTag = "[FeatureCompiler] ";

// Nested collections deeper than this are treated as bad input rather than followed.
constexpr int kMaxNesting = 16;

// Widths beyond these are taken for mistakes (a line hundreds of kilometres wide, or wider than any screen) and
// drawn with the default width instead.
constexpr double kMaxPixelWidth = 1000.0;
constexpr double kMaxMetreWidth = 100000.0;

// One merged geometry: world positions kept in double until the local origin is known.
struct Bucket
{
    const char* name;
    GLenum featureMode;
    osg::Vec4 colour;
    std::vector<osg::Vec3d> world;
    std::vector<osg::ref_ptr<osg::DrawElementsUInt>> sets;
    // Indices the current feature has added, flushed into one primitive set when the feature is done.
    std::vector<std::vector<unsigned>> pending;

    unsigned add(const osg::Vec3d& p)
    {
        world.push_back(p);
        return unsigned(world.size() - 1);
    }
};

bool finitePoint(const osg::Vec3d& p, bool geographic)
{
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z()))
        return false;
    return !geographic || std::abs(p.y()) <= 90.0;
}

bool usable(const Geometry& part, bool geographic)
{
    if (!part.isValid())
        return false;
    if (!std::all_of(part.points().begin(), part.points().end(),
                     [&](const osg::Vec3d& p) { return finitePoint(p, geographic); }))
        return false;
    if (part.getType() == Geometry::TYPE_POLYGON)
        for (const auto& hole : static_cast<const Polygon&>(part).getHoles())
            if (!hole || !hole->isValid() || !usable(*hole, geographic))
                return false;
    return true;
}

void flatten(const Geometry* geometry, int depth, std::vector<const Geometry*>& parts)
{
    if (!geometry || depth > kMaxNesting)
        return;
    if (geometry->getType() == Geometry::TYPE_MULTI)
    {
        for (const auto& part : static_cast<const MultiGeometry*>(geometry)->getComponents())
            flatten(part.get(), depth + 1, parts);
        return;
    }
    parts.push_back(geometry);
}

Ring2d toRing2d(const std::vector<osg::Vec3d>& points)
{
    Ring2d ring;
    ring.reserve(points.size());
    for (const osg::Vec3d& p : points)
        ring.emplace_back(p.x(), p.y());
    return ring;
}

// A marker waiting for the local origin, at its anchor's world position.
struct PendingLabel
{
    osg::Vec3d world;
    osg::ref_ptr<osg::MatrixTransform> node;
};

class Compiler
{
public:
    Compiler(const Style& style, const SpatialReference* srs, const CompileOptions& options)
        : _srs(srs), _options(options), _geographic(srs->isGeographic()), _labels(style, options.readOptions.get())
    {
        _polygonSymbol = style.get<PolygonSymbol>();
        _lineSymbol = style.get<LineSymbol>();
        _pointSymbol = style.get<PointSymbol>();
        _extrusion = style.get<ExtrusionSymbol>();
        _altitude = style.get<AltitudeSymbol>();
        // Degrees only mean something on a geographic map; elsewhere the coordinates are already flat.
        const double g = options.maxGranularity;
        _step = (_geographic && g > 0.0 && std::isfinite(g)) ? g : 0.0;

        const Fill fill = _polygonSymbol ? _polygonSymbol->fill().get() : Fill();
        const Stroke stroke = _lineSymbol ? _lineSymbol->stroke().get() : Stroke();
        const Fill pointFill = _pointSymbol ? _pointSymbol->fill().get() : Fill();
        _polygons = {"veltra.features.polygons", GL_TRIANGLES, fill.color(), {}, {}, {}};
        chooseLineWidth(stroke);
        const GLenum lineMode = _ribbonWidth > 0.0 ? GLenum(GL_TRIANGLES) : GLenum(GL_LINE_STRIP);
        _lines = {"veltra.features.lines", lineMode, stroke.color(), {}, {}, {}};
        _points = {"veltra.features.points", GL_POINTS, pointFill.color(), {}, {}, {}};
        // Unlit walls would be indistinguishable from their roof, so they are drawn a shade darker.
        osg::Vec4 wall = fill.color();
        wall.r() *= 0.8f;
        wall.g() *= 0.8f;
        wall.b() *= 0.8f;
        _walls = {"veltra.features.walls", GL_TRIANGLES, wall, {}, {}, {}};
        _roofs = {"veltra.features.roofs", GL_TRIANGLES, fill.color(), {}, {}, {}};
    }

    void add(const Feature& feature)
    {
        std::vector<const Geometry*> parts;
        flatten(feature.getGeometry(), 0, parts);
        if (parts.empty())
            return;

        AttributeMap attributes;
        for (const auto& [name, value] : feature.getAttrs())
            attributes[name] = value.getString();
        _offset = _altitude ? _altitude->verticalOffset().get().eval(attributes) : 0.0;
        _height = _extrusion ? _extrusion->heightExpression().get().eval(attributes) : 0.0;

        const Geometry* anchorPart = nullptr;
        for (const Geometry* part : parts)
        {
            if (!usable(*part, _geographic))
                continue;
            if (!anchorPart)
                anchorPart = part;
            switch (part->getType())
            {
            case Geometry::TYPE_POINT:
            case Geometry::TYPE_POINTSET:
                if (_pointSymbol || !_labels.active())
                    addPoints(*part);
                break;
            case Geometry::TYPE_LINESTRING:
                if (_lineSymbol || _extrusion || !_labels.active())
                    addLine(part->points(), false);
                break;
            case Geometry::TYPE_RING:
            case Geometry::TYPE_POLYGON: addPolygon(*part); break;
            default: break;
            }
        }
        for (Bucket* bucket : {&_polygons, &_lines, &_points, &_walls, &_roofs})
            flush(*bucket, feature.getFID());
        if (anchorPart && _labels.active())
            addLabel(*anchorPart, attributes, feature.getFID());
    }

    osg::ref_ptr<osg::Node> finish()
    {
        osg::BoundingBoxd bounds;
        for (Bucket* bucket : {&_polygons, &_lines, &_points, &_walls, &_roofs})
            for (const osg::Vec3d& p : bucket->world)
                bounds.expandBy(p);
        for (const PendingLabel& label : _pendingLabels)
            bounds.expandBy(label.world);
        if (!bounds.valid())
            return nullptr;
        // Vertices are stored as floats relative to this double-precision origin, which keeps them steady when
        // seen from close by on an earth-sized scene.
        const osg::Vec3d origin = bounds.center();

        osg::ref_ptr<osg::Geode> geode = new osg::Geode();
        for (Bucket* bucket : {&_polygons, &_walls, &_roofs, &_lines, &_points})
            if (!bucket->sets.empty())
                geode->addDrawable(build(*bucket, origin).get());

        osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform(osg::Matrixd::translate(origin));
        if (geode->getNumDrawables() > 0)
            transform->addChild(geode.get());
        // Markers hang under the same transform: matrices compose in double precision, so their anchors are as
        // steady as the geometry's float vertices around the origin.
        for (const PendingLabel& label : _pendingLabels)
        {
            label.node->setMatrix(osg::Matrixd::translate(label.world - origin));
            transform->addChild(label.node.get());
        }
        return transform;
    }

private:
    double baseHeight(double x, double y, double z) const
    {
        double h = z;
        const AltitudeSymbol::Clamping clamping = _altitude ? _altitude->clamping().get() : AltitudeSymbol::CLAMP_NONE;
        if (clamping == AltitudeSymbol::CLAMP_TO_TERRAIN || clamping == AltitudeSymbol::CLAMP_RELATIVE_TO_TERRAIN)
        {
            const double terrain = _options.elevation ? _options.elevation(x, y) : 0.0;
            const double safeTerrain = std::isfinite(terrain) ? terrain : 0.0;
            h = clamping == AltitudeSymbol::CLAMP_TO_TERRAIN ? safeTerrain : safeTerrain + z;
        }
        return h + _offset;
    }

    osg::Vec3d toWorld(double x, double y, double h) const
    {
        osg::Vec3d world(x, y, h);
        if (_geographic)
            _srs->transformToWorld(osg::Vec3d(x, y, h), world);
        return world;
    }

    // The usable width of a metre-wide line, else the GL line width in pixels; unusable widths fall back to one
    // pixel with a warning.
    void chooseLineWidth(const Stroke& stroke)
    {
        const double width = stroke.width().get();
        const bool metres = stroke.widthUnits().get() == Stroke::UNITS_METERS;
        const bool usableWidth =
            std::isfinite(width) && width > 0.0 && width <= (metres ? kMaxMetreWidth : kMaxPixelWidth);
        if (!usableWidth)
        {
            if (_lineSymbol && stroke.width().isSet() && width != 0.0)
                OSG_WARN << kTag << "unusable stroke width " << width << (metres ? "m" : "px")
                         << "; drawing 1-pixel lines" << std::endl;
            _pixelWidth = 1.0f;
            return;
        }
        if (metres)
            _ribbonWidth = width;
        else
            _pixelWidth = float(width);
    }

    void addLabel(const Geometry& part, const AttributeMap& attributes, FeatureID fid)
    {
        osg::Vec3d anchor;
        if (!labelAnchor(part, anchor) || !finitePoint(anchor, _geographic))
            return;
        osg::ref_ptr<osg::MatrixTransform> node = _labels.build(attributes, fid, _options.index);
        if (!node)
            return;
        // Extruded features carry their label on the roof.
        const double h = baseHeight(anchor.x(), anchor.y(), anchor.z()) + (_extrusion ? _height : 0.0);
        _pendingLabels.push_back({toWorld(anchor.x(), anchor.y(), h), node});
    }

    // The ground's normal at map coordinates (x, y): the ellipsoid's on a geographic map, straight up otherwise.
    osg::Vec3d upAt(double x, double y) const
    {
        if (!_geographic)
            return osg::Vec3d(0.0, 0.0, 1.0);
        const double lon = osg::DegreesToRadians(x);
        const double lat = osg::DegreesToRadians(y);
        return osg::Vec3d(std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat));
    }

    void addPoints(const Geometry& part)
    {
        std::vector<unsigned> indices;
        for (const osg::Vec3d& p : part.points())
            indices.push_back(_points.add(toWorld(p.x(), p.y(), baseHeight(p.x(), p.y(), p.z()))));
        _points.pending.push_back(std::move(indices));
    }

    void addLine(const std::vector<osg::Vec3d>& points, bool closed)
    {
        const std::vector<osg::Vec3d> dense = densify(points, _step, closed);
        if (_extrusion)
        {
            addWalls(dense);
            return;
        }
        if (_ribbonWidth > 0.0)
        {
            addRibbon(dense);
            return;
        }
        std::vector<unsigned> strip;
        for (const osg::Vec3d& p : dense)
            strip.push_back(_lines.add(toWorld(p.x(), p.y(), baseHeight(p.x(), p.y(), p.z()))));
        _lines.pending.push_back(std::move(strip));
    }

    void addRibbon(const std::vector<osg::Vec3d>& dense)
    {
        std::vector<osg::Vec3d> world, up;
        world.reserve(dense.size());
        up.reserve(dense.size());
        for (const osg::Vec3d& p : dense)
        {
            world.push_back(toWorld(p.x(), p.y(), baseHeight(p.x(), p.y(), p.z())));
            up.push_back(upAt(p.x(), p.y()));
        }
        const LineRibbon ribbon = buildRibbon(world, up, _ribbonWidth);
        if (ribbon.triangles.empty())
            return;
        const unsigned first = unsigned(_lines.world.size());
        _lines.world.insert(_lines.world.end(), ribbon.vertices.begin(), ribbon.vertices.end());
        std::vector<unsigned> triangles;
        triangles.reserve(ribbon.triangles.size());
        for (unsigned index : ribbon.triangles)
            triangles.push_back(first + index);
        _lines.pending.push_back(std::move(triangles));
    }

    void addWalls(const std::vector<osg::Vec3d>& dense)
    {
        std::vector<unsigned> triangles;
        const double roof = flatRoof(dense);
        for (std::size_t i = 0; i + 1 < dense.size(); ++i)
        {
            const osg::Vec3d& a = dense[i];
            const osg::Vec3d& b = dense[i + 1];
            const double ha = baseHeight(a.x(), a.y(), a.z());
            const double hb = baseHeight(b.x(), b.y(), b.z());
            const unsigned a0 = _walls.add(toWorld(a.x(), a.y(), ha));
            const unsigned b0 = _walls.add(toWorld(b.x(), b.y(), hb));
            const unsigned a1 = _walls.add(toWorld(a.x(), a.y(), std::isnan(roof) ? ha + _height : roof));
            const unsigned b1 = _walls.add(toWorld(b.x(), b.y(), std::isnan(roof) ? hb + _height : roof));
            triangles.insert(triangles.end(), {a0, b0, b1, a0, b1, a1});
        }
        _walls.pending.push_back(std::move(triangles));
    }

    // The common roof height when the extrusion is flattened (highest base plus the height), else NaN.
    double flatRoof(const std::vector<osg::Vec3d>& points) const
    {
        if (!_extrusion || !_extrusion->flatten().get() || points.empty())
            return std::nan("");
        double highest = -std::numeric_limits<double>::infinity();
        for (const osg::Vec3d& p : points)
            highest = std::max(highest, baseHeight(p.x(), p.y(), p.z()));
        return highest + _height;
    }

    void addPolygon(const Geometry& part)
    {
        std::vector<Ring2d> holes;
        const RingCollection* holeRings =
            part.getType() == Geometry::TYPE_POLYGON ? &static_cast<const Polygon&>(part).getHoles() : nullptr;
        if (holeRings)
            for (const auto& hole : *holeRings)
                holes.push_back(toRing2d(hole->points()));

        // A polygon's area is drawn flat at the mean height of its outline (then clamped per vertex).
        double z = 0.0;
        for (const osg::Vec3d& p : part.points())
            z += p.z();
        z /= double(part.points().size());

        // Cells of granularity / sqrt(2) keep even a cell's diagonal within the granularity.
        const PolygonMesh mesh = triangulatePolygon(toRing2d(part.points()), holes, _step / std::sqrt(2.0));
        if (mesh.triangles.empty())
            return;

        // Without any symbol an area is filled; a style that only labels its features draws just the labels.
        const bool filled = _extrusion || _polygonSymbol || (!_lineSymbol && !_labels.active());
        if (filled)
        {
            Bucket& target = _extrusion ? _roofs : _polygons;
            const double roof = flatRoof(part.points());
            std::vector<unsigned> remap(mesh.points.size());
            for (std::size_t i = 0; i < mesh.points.size(); ++i)
            {
                const osg::Vec2d& p = mesh.points[i];
                const double base = baseHeight(p.x(), p.y(), z);
                const double h = _extrusion ? (std::isnan(roof) ? base + _height : roof) : base;
                remap[i] = target.add(toWorld(p.x(), p.y(), h));
            }
            std::vector<unsigned> triangles;
            for (unsigned index : mesh.triangles)
                triangles.push_back(remap[index]);
            target.pending.push_back(std::move(triangles));
        }

        // Outlines (and the walls of an extrusion) follow every ring.
        if (_extrusion || _lineSymbol)
        {
            addLine(part.points(), true);
            if (holeRings)
                for (const auto& hole : *holeRings)
                    addLine(hole->points(), true);
        }
    }

    // Everything the feature added to `bucket` becomes one primitive set, so the feature keeps one tag per
    // drawable. Several line strips can only share a set as separate segments.
    void flush(Bucket& bucket, FeatureID fid)
    {
        if (bucket.pending.empty())
            return;
        GLenum mode = bucket.featureMode;
        if (mode == GL_LINE_STRIP && bucket.pending.size() > 1)
            mode = GL_LINES;
        osg::ref_ptr<osg::DrawElementsUInt> set = new osg::DrawElementsUInt(mode);
        for (const std::vector<unsigned>& indices : bucket.pending)
        {
            if (mode == GL_LINES)
            {
                for (std::size_t i = 0; i + 1 < indices.size(); ++i)
                {
                    set->push_back(indices[i]);
                    set->push_back(indices[i + 1]);
                }
            }
            else
            {
                set->insert(set->end(), indices.begin(), indices.end());
            }
        }
        bucket.pending.clear();
        if (set->empty())
            return;
        if (_options.index)
            set->setUserData(new RefFeatureID(fid));
        bucket.sets.push_back(set);
    }

    osg::ref_ptr<osg::Geometry> build(const Bucket& bucket, const osg::Vec3d& origin) const
    {
        osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry();
        geometry->setName(bucket.name);
        // Buffer objects rather than display lists, so taking a feature's primitive sets out stays cheap.
        geometry->setUseDisplayList(false);
        geometry->setUseVertexBufferObjects(true);

        osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array();
        vertices->reserve(bucket.world.size());
        for (const osg::Vec3d& p : bucket.world)
            vertices->push_back(osg::Vec3(p - origin));
        geometry->setVertexArray(vertices.get());
        osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(1);
        (*colours)[0] = bucket.colour;
        geometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
        // Index buffers are given to the sets before they are added: a set without one makes the geometry search
        // all its sets for a buffer to share, quadratic over thousands of features. A buffer takes a bounded number
        // of sets, as each set leaving it (a feature removed, the layer dropped) is looked up in its list.
        constexpr std::size_t kSetsPerIndexBuffer = 256;
        osg::ref_ptr<osg::ElementBufferObject> indices;
        std::size_t inBuffer = 0;
        for (const auto& set : bucket.sets)
        {
            if (osg::DrawElements* elements = set->getDrawElements())
            {
                if (!indices || inBuffer == kSetsPerIndexBuffer)
                {
                    indices = new osg::ElementBufferObject();
                    inBuffer = 0;
                }
                elements->setElementBufferObject(indices.get());
                ++inBuffer;
            }
            geometry->addPrimitiveSet(set.get());
        }

        // No normals are generated, so all feature geometry is drawn unlit in its symbol's colour.
        osg::StateSet* state = geometry->getOrCreateStateSet();
        state->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
        if (bucket.colour.a() < 1.0f)
        {
            state->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA));
            state->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
        }
        if (&bucket == &_lines && _ribbonWidth > 0.0)
        {
            // Ribbons lie on the same ground as the areas they outline; pulled slightly forward they win the depth
            // test there. Their winding follows the line's direction, so both faces are drawn.
            state->setAttributeAndModes(new osg::PolygonOffset(-1.0f, -1.0f));
            state->setMode(GL_CULL_FACE, osg::StateAttribute::OFF);
        }
        else if (&bucket == &_lines)
        {
            state->setAttributeAndModes(new osg::LineWidth(_pixelWidth));
        }
        if (&bucket == &_points)
        {
            const float size = _pointSymbol ? _pointSymbol->size().get() : 1.0f;
            state->setAttributeAndModes(new osg::Point(std::isfinite(size) && size > 0.0f ? size : 1.0f));
        }
        return geometry;
    }

    const SpatialReference* _srs;
    const CompileOptions& _options;
    bool _geographic;
    double _step = 0.0;
    const PolygonSymbol* _polygonSymbol = nullptr;
    const LineSymbol* _lineSymbol = nullptr;
    const PointSymbol* _pointSymbol = nullptr;
    const ExtrusionSymbol* _extrusion = nullptr;
    const AltitudeSymbol* _altitude = nullptr;
    double _offset = 0.0;
    double _height = 0.0;
    // Exactly one applies: a ribbon width in metres (> 0), else a GL line width in pixels.
    double _ribbonWidth = 0.0;
    float _pixelWidth = 1.0f;
    FeatureLabels _labels;
    std::vector<PendingLabel> _pendingLabels;
    Bucket _polygons{}, _lines{}, _points{}, _walls{}, _roofs{};
};

} // namespace

osg::ref_ptr<osg::Node> compileFeatures(const FeatureList& features, const Style& style, const SpatialReference* mapSRS,
                                        const CompileOptions& options)
{
    if (!mapSRS)
        return nullptr;
    Compiler compiler(style, mapSRS, options);
    for (const auto& feature : features)
        if (feature.valid())
            compiler.add(*feature);
    return compiler.finish();
}

} // namespace osgEarth::Features
