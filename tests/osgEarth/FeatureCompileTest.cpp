#include "NotifyCapture.h"
#include "OffscreenRender.h"
#include "TempDir.h"
#include "VirtualDisplay.h"

#include <osgEarth/SpatialReference>
#include <osgEarthFeatures/Feature>
#include <osgEarthFeatures/FeatureSourceIndexNode>
#include <osgEarthSymbology/LineSymbol>
#include <osgEarthSymbology/Style>
#include <src/features/compile/FeatureCompiler.h>
#include <src/features/compile/LineRibbon.h>

#include <osg/Geode>
#include <osg/LineWidth>
#include <osg/MatrixTransform>
#include <osg/Point>
#include <osg/Texture2D>
#include <osg/TriangleIndexFunctor>
#include <osgDB/WriteFile>
#include <osgText/Text>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Features;
using namespace osgEarth::Symbology;

namespace {

constexpr double kA = 6378137.0;
constexpr double kB = 6356752.3142;

// The ellipsoid's radius in the direction of `p`, from the ellipse equation rather than the library under test.
double ellipsoidRadiusToward(const osg::Vec3d& p)
{
    const double horizontal2 = p.x() * p.x() + p.y() * p.y();
    const double r2 = horizontal2 + p.z() * p.z();
    return std::sqrt(r2 / (horizontal2 / (kA * kA) + p.z() * p.z() / (kB * kB)));
}

using LonLatRing = std::vector<std::pair<double, double>>;

osg::ref_ptr<Polygon> polygon(const LonLatRing& outer, const std::vector<LonLatRing>& holes = {}, double z = 0.0)
{
    osg::ref_ptr<Polygon> result = new Polygon();
    for (const auto& [lon, lat] : outer)
        result->push_back(osg::Vec3d(lon, lat, z));
    for (const LonLatRing& hole : holes)
    {
        osg::ref_ptr<Symbology::Ring> ring = new Symbology::Ring();
        for (const auto& [lon, lat] : hole)
            ring->push_back(osg::Vec3d(lon, lat, z));
        result->getHoles().push_back(ring);
    }
    return result;
}

osg::ref_ptr<Symbology::Point> point(double lon, double lat)
{
    osg::ref_ptr<Symbology::Point> result = new Symbology::Point();
    result->push_back(osg::Vec3d(lon, lat, 0.0));
    return result;
}

osg::ref_ptr<LineString> lineString(const LonLatRing& points)
{
    osg::ref_ptr<LineString> result = new LineString();
    for (const auto& [lon, lat] : points)
        result->push_back(osg::Vec3d(lon, lat, 0.0));
    return result;
}

LonLatRing box(double lon0, double lat0, double lon1, double lat1)
{
    return {{lon0, lat0}, {lon1, lat0}, {lon1, lat1}, {lon0, lat1}};
}

osg::ref_ptr<Feature> feature(FeatureID fid, Geometry* geometry)
{
    osg::ref_ptr<Feature> result = new Feature(fid);
    result->setGeometry(geometry);
    return result;
}

Style styleOf(const std::vector<std::pair<std::string, std::string>>& properties)
{
    Config conf("features");
    for (const auto& [name, value] : properties)
        conf.add(name, value);
    Style style;
    style.fromSLD(conf);
    return style;
}

// The compiled node's parts: the origin transform and the merged geometries by name.
struct Compiled : public osg::NodeVisitor
{
    Compiled() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::MatrixTransform& transform) override
    {
        if (!origin)
            origin = &transform;
        traverse(transform);
    }
    void apply(osg::Drawable& drawable) override
    {
        if (osg::Geometry* geometry = drawable.asGeometry())
            byName[geometry->getName()] = geometry;
    }
    osg::Geometry* get(const std::string& kind) const
    {
        auto found = byName.find("veltra.features." + kind);
        return found == byName.end() ? nullptr : found->second;
    }
    // Holds the compiled node, so the raw pointers stay valid for as long as the parts are used.
    osg::ref_ptr<osg::Node> keep;
    osg::MatrixTransform* origin = nullptr;
    std::map<std::string, osg::Geometry*> byName;
};

Compiled partsOf(const osg::ref_ptr<osg::Node>& node)
{
    Compiled parts;
    parts.keep = node;
    if (node)
        node->accept(parts);
    return parts;
}

std::vector<osg::Vec3d> worldVertices(const osg::Geometry& geometry, const osg::MatrixTransform& origin)
{
    std::vector<osg::Vec3d> out;
    const auto* vertices = dynamic_cast<const osg::Vec3Array*>(geometry.getVertexArray());
    for (const osg::Vec3& v : *vertices)
        out.push_back(osg::Vec3d(v) * origin.getMatrix());
    return out;
}

struct Triangles
{
    std::vector<unsigned>* out = nullptr;
    void operator()(unsigned a, unsigned b, unsigned c) { out->insert(out->end(), {a, b, c}); }
};

std::vector<unsigned> trianglesOf(osg::Geometry& geometry)
{
    std::vector<unsigned> indices;
    osg::TriangleIndexFunctor<Triangles> functor;
    functor.out = &indices;
    geometry.accept(functor);
    return indices;
}

FeatureID tagOf(const osg::PrimitiveSet& set)
{
    const auto* tag = dynamic_cast<const RefFeatureID*>(set.getUserData());
    return tag ? FeatureID(*tag) : std::numeric_limits<FeatureID>::max();
}

class FeatureCompileTest : public ::testing::Test
{
protected:
    osg::Vec3d lonLatOf(const osg::Vec3d& world) const
    {
        osg::Vec3d out;
        _srs->transformFromWorld(world, out);
        return out;
    }

    // Whether some triangle of `geometry` covers (lon, lat), tested in longitude/latitude.
    bool covers(osg::Geometry& geometry, const osg::MatrixTransform& origin, double lon, double lat) const
    {
        const std::vector<osg::Vec3d> world = worldVertices(geometry, origin);
        const std::vector<unsigned> triangles = trianglesOf(geometry);
        for (std::size_t t = 0; t + 2 < triangles.size(); t += 3)
        {
            osg::Vec3d c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = lonLatOf(world[triangles[t + k]]);
            double sign[3];
            for (int k = 0; k < 3; ++k)
            {
                const osg::Vec3d& a = c[k];
                const osg::Vec3d& b = c[(k + 1) % 3];
                sign[k] = (b.x() - a.x()) * (lat - a.y()) - (b.y() - a.y()) * (lon - a.x());
            }
            const bool allPos = sign[0] >= 0 && sign[1] >= 0 && sign[2] >= 0;
            const bool allNeg = sign[0] <= 0 && sign[1] <= 0 && sign[2] <= 0;
            if (allPos || allNeg)
                return true;
        }
        return false;
    }

    const SpatialReference* _srs = SpatialReference::create("wgs84");
};

TEST_F(FeatureCompileTest, PolygonVerticesLieOnTheEllipsoidAroundALocalOrigin)
{
    osg::ref_ptr<osg::Node> node =
        compileFeatures({feature(1, polygon(box(10.0, 40.0, 12.0, 42.0)).get())}, styleOf({{"fill", "#ff0000"}}), _srs);
    const Compiled parts = partsOf(node.get());
    ASSERT_TRUE(parts.origin && parts.get("polygons"));
    // The origin carries the earth-sized offset; the float vertices stay small.
    EXPECT_GT(parts.origin->getMatrix().getTrans().length(), 6.3e6);
    const auto* local = dynamic_cast<const osg::Vec3Array*>(parts.get("polygons")->getVertexArray());
    for (const osg::Vec3& v : *local)
        EXPECT_LT(v.length(), 3.0e5);
    for (const osg::Vec3d& p : worldVertices(*parts.get("polygons"), *parts.origin))
        EXPECT_NEAR(p.length(), ellipsoidRadiusToward(p), 1.0);
    const auto* colours = dynamic_cast<const osg::Vec4Array*>(parts.get("polygons")->getColorArray());
    ASSERT_TRUE(colours && !colours->empty());
    EXPECT_EQ((*colours)[0], osg::Vec4(1, 0, 0, 1));
    EXPECT_NE(parts.get("polygons")->getOrCreateStateSet()->getMode(GL_LIGHTING) & osg::StateAttribute::ON,
              unsigned(osg::StateAttribute::ON));
}

TEST_F(FeatureCompileTest, HolesStayUncoveredWithAndWithoutCells)
{
    for (double granularity : {0.0, 1.0, 3.0})
    {
        SCOPED_TRACE(granularity);
        CompileOptions options;
        options.maxGranularity = granularity;
        osg::ref_ptr<osg::Node> node = compileFeatures(
            {feature(1, polygon(box(0, 0, 10, 10), {box(3.5, 3.5, 6.5, 6.5)}).get())}, Style(), _srs, options);
        const Compiled parts = partsOf(node.get());
        ASSERT_TRUE(parts.origin && parts.get("polygons"));
        EXPECT_FALSE(covers(*parts.get("polygons"), *parts.origin, 5.0, 5.0));
        EXPECT_FALSE(covers(*parts.get("polygons"), *parts.origin, 4.0, 6.0));
        EXPECT_TRUE(covers(*parts.get("polygons"), *parts.origin, 2.0, 2.0));
        EXPECT_TRUE(covers(*parts.get("polygons"), *parts.origin, 8.3, 5.0));
    }
}

TEST_F(FeatureCompileTest, LargePolygonsAreSubdividedToFollowTheGlobe)
{
    const struct
    {
        double granularity;
        double longestDegrees;
    } cases[] = {{1.0, 1.0}, {0.5, 0.5}, {4.0, 4.0}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.granularity);
        CompileOptions options;
        options.maxGranularity = c.granularity;
        osg::ref_ptr<osg::Node> node =
            compileFeatures({feature(1, polygon(box(0, -10, 20, 10)).get())}, Style(), _srs, options);
        const Compiled parts = partsOf(node.get());
        ASSERT_TRUE(parts.origin && parts.get("polygons"));
        const std::vector<osg::Vec3d> world = worldVertices(*parts.get("polygons"), *parts.origin);
        const std::vector<unsigned> triangles = trianglesOf(*parts.get("polygons"));
        ASSERT_FALSE(triangles.empty());
        double longest = 0.0;
        for (std::size_t t = 0; t + 2 < triangles.size(); t += 3)
            for (int k = 0; k < 3; ++k)
            {
                osg::Vec3d a = world[triangles[t + k]], b = world[triangles[t + (k + 1) % 3]];
                a.normalize();
                b.normalize();
                longest = std::max(longest, osg::RadiansToDegrees(std::acos(std::min(1.0, a * b))));
            }
        EXPECT_LE(longest, c.longestDegrees + 1e-6);

        // Interior vertices exist and sit on the ellipsoid, far above the chord between the corners.
        int interior = 0;
        for (const osg::Vec3d& p : world)
        {
            EXPECT_NEAR(p.length(), ellipsoidRadiusToward(p), 1.0);
            const osg::Vec3d ll = lonLatOf(p);
            if (ll.x() > 1.0 && ll.x() < 19.0 && std::abs(ll.y()) < 9.0)
                ++interior;
        }
        EXPECT_GT(interior, 0);
    }

    // Without subdivision the same polygon keeps its long edges.
    CompileOptions flat;
    flat.maxGranularity = 0.0;
    osg::ref_ptr<osg::Node> node =
        compileFeatures({feature(1, polygon(box(0, -10, 20, 10)).get())}, Style(), _srs, flat);
    EXPECT_LE(worldVertices(*partsOf(node.get()).get("polygons"), *partsOf(node.get()).origin).size(), 6u);
}

class FeatureTagging : public FeatureCompileTest
{
protected:
    FeatureList threeKinds() const
    {
        osg::ref_ptr<LineString> line = new LineString();
        line->push_back(osg::Vec3d(30, 0, 0));
        line->push_back(osg::Vec3d(33, 1, 0));
        osg::ref_ptr<MultiGeometry> twoLines = new MultiGeometry();
        twoLines->add(line.get());
        osg::ref_ptr<LineString> other = new LineString();
        other->push_back(osg::Vec3d(40, 0, 0));
        other->push_back(osg::Vec3d(40, 2, 0));
        twoLines->add(other.get());
        osg::ref_ptr<PointSet> points = new PointSet();
        points->push_back(osg::Vec3d(50, 5, 0));
        points->push_back(osg::Vec3d(51, 5, 0));
        return {feature(7, polygon(box(0, 0, 2, 2)).get()),
                feature(8, polygon(box(5, 0, 7, 2)).get()),
                feature(9, polygon(box(10, 0, 12, 2)).get()),
                feature(20, line.get()),
                feature(21, twoLines.get()),
                feature(30, points.get())};
    }
    Style _style = styleOf({{"fill", "#00ff00"}, {"stroke", "#0000ff"}, {"stroke-width", "3"}, {"point-size", "6"}});
};

TEST_F(FeatureTagging, EachFeatureHasOneTaggedPrimitiveSetPerGeometry)
{
    osg::ref_ptr<osg::Node> node = compileFeatures(threeKinds(), _style, _srs);
    const Compiled parts = partsOf(node.get());
    const std::map<std::string, std::set<FeatureID>> expected = {
        {"polygons", {7, 8, 9}}, {"lines", {7, 8, 9, 20, 21}}, {"points", {30}}};
    for (const auto& [kind, fids] : expected)
    {
        SCOPED_TRACE(kind);
        osg::Geometry* geometry = parts.get(kind);
        ASSERT_TRUE(geometry);
        std::multiset<FeatureID> seen;
        std::set<const osg::Referenced*> tags;
        for (unsigned i = 0; i < geometry->getNumPrimitiveSets(); ++i)
        {
            seen.insert(tagOf(*geometry->getPrimitiveSet(i)));
            tags.insert(geometry->getPrimitiveSet(i)->getUserData());
        }
        EXPECT_EQ(std::set<FeatureID>(seen.begin(), seen.end()), fids);
        EXPECT_EQ(seen.size(), fids.size()) << "one primitive set per feature";
        EXPECT_EQ(tags.size(), fids.size()) << "one tag object per feature";
    }
    // Lines: one strip stays a strip; two parts of one feature become segments of one set.
    osg::Geometry* lines = parts.get("lines");
    for (unsigned i = 0; i < lines->getNumPrimitiveSets(); ++i)
    {
        const osg::PrimitiveSet& set = *lines->getPrimitiveSet(i);
        if (tagOf(set) == 20)
        {
            EXPECT_EQ(set.getMode(), GLenum(GL_LINE_STRIP));
        }
        if (tagOf(set) == 21)
        {
            EXPECT_EQ(set.getMode(), GLenum(GL_LINES));
        }
    }
    auto* width =
        dynamic_cast<osg::LineWidth*>(lines->getOrCreateStateSet()->getAttribute(osg::StateAttribute::LINEWIDTH));
    ASSERT_TRUE(width);
    EXPECT_FLOAT_EQ(width->getWidth(), 3.0f);
    auto* point =
        dynamic_cast<osg::Point*>(parts.get("points")->getOrCreateStateSet()->getAttribute(osg::StateAttribute::POINT));
    ASSERT_TRUE(point);
    EXPECT_FLOAT_EQ(point->getSize(), 6.0f);
    EXPECT_EQ(parts.get("points")->getPrimitiveSet(0)->getMode(), GLenum(GL_POINTS));

    CompileOptions untagged;
    untagged.index = false;
    const Compiled plain = partsOf(compileFeatures(threeKinds(), _style, _srs, untagged).get());
    for (const auto& [name, geometry] : plain.byName)
        for (unsigned i = 0; i < geometry->getNumPrimitiveSets(); ++i)
            EXPECT_EQ(geometry->getPrimitiveSet(i)->getUserData(), nullptr) << name;
}

TEST_F(FeatureTagging, IndexNodeMapsIdsToWhatDrawsThem)
{
    FeatureSourceIndexOptions embed;
    embed.embedFeatures() = true;
    const FeatureList features = threeKinds();
    osg::ref_ptr<FeatureSourceIndexNode> index = new FeatureSourceIndexNode(embed);
    index->addChild(compileFeatures(features, _style, _srs).get());
    // A feature drawn as its own node: the tag sits on the node, its geometry is untagged.
    osg::ref_ptr<osg::MatrixTransform> own = new osg::MatrixTransform();
    own->setUserData(new RefFeatureID(40));
    osg::ref_ptr<osg::Geometry> untagged = new osg::Geometry();
    untagged->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, 3));
    own->addChild(untagged.get());
    index->addChild(own.get());
    index->embedFeatures(features);
    index->reindex();

    EXPECT_EQ(index->getFIDs(), (std::vector<FeatureID>{7, 8, 9, 20, 21, 30, 40}));
    const FeatureDrawSet& eight = index->getDrawSet(8);
    ASSERT_EQ(eight.slices.size(), 2u) << "polygon fill and outline";
    for (const FeatureDrawSlice& slice : eight.slices)
    {
        ASSERT_EQ(slice.primitiveSets.size(), 1u);
        FeatureID fid = 0;
        EXPECT_TRUE(index->getFID(slice.primitiveSets[0].get(), fid));
        EXPECT_EQ(fid, 8u);
    }
    EXPECT_TRUE(index->getDrawSet(99).empty());
    ASSERT_EQ(index->getDrawSet(40).nodes.size(), 1u);
    EXPECT_EQ(index->getDrawSet(40).nodes[0].get(), own.get());

    // Primitive numbers run across the primitive sets of a drawable.
    const Compiled parts = partsOf(index.get());
    osg::Geometry* polygons = parts.get("polygons");
    const unsigned firstCount = polygons->getPrimitiveSet(0)->getNumPrimitives();
    const std::pair<int, FeatureID> picks[] = {{0, 7}, {int(firstCount) - 1, 7}, {int(firstCount), 8}};
    for (const auto& [primitive, expected] : picks)
    {
        FeatureID fid = 0;
        EXPECT_TRUE(index->getFID(polygons, primitive, fid));
        EXPECT_EQ(fid, expected) << "primitive " << primitive;
    }
    FeatureID fid = 0;
    EXPECT_FALSE(index->getFID(polygons, 1 << 20, fid));
    EXPECT_TRUE(index->getFID(untagged.get(), 0, fid));
    EXPECT_EQ(fid, 40u);
    EXPECT_FALSE(index->getFID(static_cast<const osg::Drawable*>(nullptr), 0, fid));

    ASSERT_TRUE(index->getFeature(21));
    EXPECT_EQ(index->getFeature(21)->getFID(), 21u);
    osg::ref_ptr<FeatureSourceIndexNode> lean = new FeatureSourceIndexNode();
    lean->embedFeatures(features);
    EXPECT_EQ(lean->getFeature(21), nullptr);
}

TEST_F(FeatureTagging, RemovingAFeatureLeavesItsNeighboursDrawn)
{
    osg::ref_ptr<FeatureSourceIndexNode> index = new FeatureSourceIndexNode();
    index->addChild(compileFeatures(threeKinds(), _style, _srs).get());
    osg::ref_ptr<osg::Group> own = new osg::Group();
    own->setUserData(new RefFeatureID(40));
    index->addChild(own.get());
    index->reindex();

    osg::Geometry* polygons = partsOf(index.get()).get("polygons");
    const osg::ref_ptr<osg::PrimitiveSet> seven = index->getDrawSet(7).slices[0].primitiveSets[0];
    const osg::ref_ptr<osg::PrimitiveSet> nine = index->getDrawSet(9).slices[0].primitiveSets[0];

    EXPECT_TRUE(index->removeFeature(8));
    EXPECT_FALSE(index->removeFeature(8));
    EXPECT_TRUE(index->getDrawSet(8).empty());
    ASSERT_EQ(polygons->getNumPrimitiveSets(), 2u);
    EXPECT_EQ(polygons->getPrimitiveSet(0), seven.get());
    EXPECT_EQ(polygons->getPrimitiveSet(1), nine.get());
    for (unsigned i = 0; i < partsOf(index.get()).get("lines")->getNumPrimitiveSets(); ++i)
        EXPECT_NE(tagOf(*partsOf(index.get()).get("lines")->getPrimitiveSet(i)), 8u);

    EXPECT_TRUE(index->removeFeature(40));
    EXPECT_EQ(own->getNumParents(), 0u);
    EXPECT_EQ(index->getFIDs(), (std::vector<FeatureID>{7, 9, 20, 21, 30}));
}

TEST(FeatureSourceIndexOptionsTest, ReadsAndWritesItsKeys)
{
    const FeatureSourceIndexOptions defaults;
    EXPECT_TRUE(defaults.enabled().get());
    EXPECT_FALSE(defaults.embedFeatures().get());
    EXPECT_EQ(defaults.getConfig().key(), "feature_indexing");

    Config conf("feature_indexing");
    conf.add("enabled", "false");
    conf.add("embed_features", "true");
    const FeatureSourceIndexOptions read(conf);
    EXPECT_FALSE(read.enabled().get());
    EXPECT_TRUE(read.embedFeatures().get());
    const FeatureSourceIndexOptions again(read.getConfig());
    EXPECT_FALSE(again.enabled().get());
    EXPECT_TRUE(again.embedFeatures().get());
}

TEST_F(FeatureCompileTest, ExtrusionHeightComesFromTheFeaturesAttributes)
{
    const struct
    {
        std::string expression;
        int floors;
        double height;
    } cases[] = {{"[floors] * 3", 2, 6.0}, {"[floors] * 3", 10, 30.0}, {"25", 4, 25.0}, {"[missing] + 5", 1, 5.0}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.expression + " floors " + std::to_string(c.floors));
        osg::ref_ptr<Feature> building = feature(1, polygon(box(8.0, 47.0, 8.001, 47.001)).get());
        building->set("floors", c.floors);
        const Compiled parts =
            partsOf(compileFeatures({building}, styleOf({{"extrusion-height", c.expression}}), _srs).get());
        ASSERT_TRUE(parts.get("walls") && parts.get("roofs"));
        EXPECT_EQ(parts.get("polygons"), nullptr);
        double low = 1e9, high = -1e9;
        for (const osg::Vec3d& p : worldVertices(*parts.get("walls"), *parts.origin))
        {
            low = std::min(low, lonLatOf(p).z());
            high = std::max(high, lonLatOf(p).z());
        }
        EXPECT_NEAR(low, 0.0, 0.05);
        EXPECT_NEAR(high, c.height, 0.05);
        for (const osg::Vec3d& p : worldVertices(*parts.get("roofs"), *parts.origin))
            EXPECT_NEAR(lonLatOf(p).z(), c.height, 0.05);
    }
}

TEST_F(FeatureCompileTest, AltitudeClampingChoosesTheHeight)
{
    const struct
    {
        std::string clamping;
        double expected;
    } cases[] = {{"none", 500.0}, {"absolute", 500.0}, {"terrain", 120.0}, {"relative", 620.0}};
    CompileOptions options;
    options.elevation = [](double, double) { return 120.0; };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.clamping);
        const Compiled parts = partsOf(compileFeatures({feature(1, polygon(box(1, 1, 1.5, 1.5), {}, 500.0).get())},
                                                       styleOf({{"altitude-clamping", c.clamping}}), _srs, options)
                                           .get());
        ASSERT_TRUE(parts.get("polygons"));
        for (const osg::Vec3d& p : worldVertices(*parts.get("polygons"), *parts.origin))
            EXPECT_NEAR(lonLatOf(p).z(), c.expected, 0.05);
    }
}

TEST_F(FeatureCompileTest, BadGeometryYieldsNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    osg::ref_ptr<MultiGeometry> nested = new MultiGeometry();
    MultiGeometry* level = nested.get();
    for (int i = 0; i < 40; ++i)
    {
        osg::ref_ptr<MultiGeometry> deeper = new MultiGeometry();
        level->add(deeper.get());
        level = deeper.get();
    }
    level->add(polygon(box(0, 0, 1, 1)).get());
    osg::ref_ptr<LineString> onePoint = new LineString();
    onePoint->push_back(osg::Vec3d(1, 1, 0));
    const std::pair<const char*, osg::ref_ptr<Geometry>> cases[] = {
        {"no geometry", nullptr},
        {"empty polygon", new Polygon()},
        {"two points", polygon({{0, 0}, {1, 1}})},
        {"collinear", polygon({{0, 0}, {1, 1}, {2, 2}, {3, 3}})},
        {"repeated point", polygon({{4, 4}, {4, 4}, {4, 4}})},
        {"NaN", polygon({{0, 0}, {nan, 1}, {1, 1}})},
        {"infinite", polygon({{0, 0}, {1, std::numeric_limits<double>::infinity()}, {1, 1}})},
        {"latitude beyond the pole", polygon({{0, 0}, {1, 95}, {2, 0}})},
        {"degenerate hole", polygon({{0, 0}, {1, 1}, {2, 2}}, {{{0.5, 0.5}}})},
        {"one-point line", onePoint},
        {"empty collection", new MultiGeometry()},
        {"nested too deep", nested},
    };
    for (const auto& [name, geometry] : cases)
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(compileFeatures({feature(1, geometry.get())}, Style(), _srs), nullptr);
    }
    EXPECT_EQ(compileFeatures({feature(1, polygon(box(0, 0, 1, 1)).get())}, Style(), nullptr), nullptr);
    EXPECT_EQ(compileFeatures({nullptr}, Style(), _srs), nullptr);

    // Bad features beside a good one leave only the good one drawn.
    FeatureList mixed;
    for (const auto& [name, geometry] : cases)
        mixed.push_back(feature(2, geometry.get()));
    mixed.push_back(feature(3, polygon(box(0, 0, 1, 1)).get()));
    const Compiled parts = partsOf(compileFeatures(mixed, Style(), _srs).get());
    ASSERT_TRUE(parts.get("polygons"));
    ASSERT_EQ(parts.get("polygons")->getNumPrimitiveSets(), 1u);
    EXPECT_EQ(tagOf(*parts.get("polygons")->getPrimitiveSet(0)), 3u);
}

TEST_F(FeatureCompileTest, HugePolygonsAndTinyGranularityStayBounded)
{
    CompileOptions options;
    options.maxGranularity = 1e-6;
    const auto start = std::chrono::steady_clock::now();
    osg::ref_ptr<osg::Node> node =
        compileFeatures({feature(1, polygon(box(-180, -89, 180, 89)).get())}, Style(), _srs, options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    const Compiled parts = partsOf(node.get());
    ASSERT_TRUE(parts.get("polygons"));
    EXPECT_LT(parts.get("polygons")->getVertexArray()->getNumElements(), 1000000u);
}

// ---------------------------------------------------------------------------------------------------------------
// Line widths

TEST(LineRibbonTest, EdgesStayHalfAWidthFromTheLineWithMitredJoins)
{
    const osg::Vec3d up(0, 0, 1);
    const struct
    {
        const char* name;
        std::vector<osg::Vec3d> line;
        double width;
        std::vector<osg::Vec3d> vertices; // left, right per kept vertex
        std::size_t triangles;
    } cases[] = {
        {"straight", {{0, 0, 0}, {10, 0, 0}}, 2.0, {{0, 1, 0}, {0, -1, 0}, {10, 1, 0}, {10, -1, 0}}, 2},
        {"repeated points are skipped",
         {{0, 0, 0}, {0, 0, 0}, {10, 0, 0}, {10, 0, 0}},
         2.0,
         {{0, 1, 0}, {0, -1, 0}, {10, 1, 0}, {10, -1, 0}},
         2},
        // A left turn: the inner corner sits sqrt(2) half-widths in, the outer one as far out.
        {"right angle",
         {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}},
         2.0,
         {{0, 1, 0}, {0, -1, 0}, {9, 1, 0}, {11, -1, 0}, {9, 10, 0}, {11, 10, 0}},
         4},
        {"closed square",
         {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {0, 0, 0}},
         2.0,
         {{1, 1, 0}, {-1, -1, 0}, {3, 1, 0}, {5, -1, 0}, {3, 3, 0}, {5, 5, 0}, {1, 3, 0}, {-1, 5, 0}},
         8},
        // Turning almost straight back, the mitre is cut short at its limit.
        {"hairpin", {{0, 0, 0}, {10, 0, 0}, {0, 0.01, 0}}, 2.0, {}, 4},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const LineRibbon ribbon = buildRibbon(c.line, std::vector<osg::Vec3d>(c.line.size(), up), c.width);
        EXPECT_EQ(ribbon.triangles.size(), 3 * c.triangles);
        for (unsigned index : ribbon.triangles)
            EXPECT_LT(index, ribbon.vertices.size());
        if (c.vertices.empty())
        {
            ASSERT_EQ(ribbon.vertices.size(), 6u);
            for (std::size_t i : {2, 3})
                EXPECT_NEAR((ribbon.vertices[i] - c.line[1]).length(), 0.5 * c.width * kMitreLimit, 1e-9);
            continue;
        }
        ASSERT_EQ(ribbon.vertices.size(), c.vertices.size());
        for (std::size_t i = 0; i < c.vertices.size(); ++i)
            EXPECT_LT((ribbon.vertices[i] - c.vertices[i]).length(), 1e-9) << "vertex " << i;
    }
}

TEST(LineRibbonTest, UnusableInputGivesNoRibbon)
{
    const std::vector<osg::Vec3d> line = {{0, 0, 0}, {10, 0, 0}};
    const std::vector<osg::Vec3d> up(2, osg::Vec3d(0, 0, 1));
    for (double width : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_TRUE(buildRibbon(line, up, width).triangles.empty()) << width;
    EXPECT_TRUE(buildRibbon({{1, 1, 1}, {1, 1, 1}}, up, 2.0).triangles.empty());
    EXPECT_TRUE(buildRibbon(line, {osg::Vec3d(0, 0, 1)}, 2.0).triangles.empty());
}

class FeatureLineWidth : public FeatureCompileTest
{
protected:
    static double distanceToLine(const osg::Vec3d& p, const osg::Vec3d& a, const osg::Vec3d& b)
    {
        const osg::Vec3d direction = (b - a) / (b - a).length();
        return ((p - a) ^ direction).length();
    }

    Style metresWide(const std::string& width) const
    {
        return styleOf({{"stroke", "#ffff00"}, {"stroke-width", width}});
    }
};

TEST_F(FeatureLineWidth, MetreWidthsBecomeRibbonsThatWideOnTheGround)
{
    const struct
    {
        const char* width;
        double metres;
        LonLatRing line;
    } cases[] = {
        {"20m", 20.0, {{8.0, 47.0}, {8.0, 47.01}}},
        {"3.5m", 3.5, {{8.0, 47.0}, {8.01, 47.01}, {8.03, 47.01}}},
        {"2500m", 2500.0, {{-60.0, -10.0}, {-50.0, -10.0}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.width);
        const Compiled parts =
            partsOf(compileFeatures({feature(5, lineString(c.line).get())}, metresWide(c.width), _srs));
        osg::Geometry* lines = parts.get("lines");
        ASSERT_TRUE(lines);
        ASSERT_EQ(lines->getNumPrimitiveSets(), 1u);
        EXPECT_EQ(lines->getPrimitiveSet(0)->getMode(), GLenum(GL_TRIANGLES));
        EXPECT_EQ(tagOf(*lines->getPrimitiveSet(0)), 5u);
        EXPECT_EQ(lines->getOrCreateStateSet()->getAttribute(osg::StateAttribute::LINEWIDTH), nullptr);

        const std::vector<osg::Vec3d> world = worldVertices(*lines, *parts.origin);
        ASSERT_GE(world.size(), 4u);
        ASSERT_EQ(world.size() % 2, 0u);
        EXPECT_EQ(trianglesOf(*lines).size(), 3 * (world.size() - 2));
        // The ribbon's spine: the middle of each left/right pair, which is the line's own vertex.
        std::vector<osg::Vec3d> spine;
        for (std::size_t i = 0; i + 1 < world.size(); i += 2)
            spine.push_back((world[i] + world[i + 1]) * 0.5);
        for (std::size_t v = 0; v < spine.size(); ++v)
        {
            SCOPED_TRACE("vertex " + std::to_string(v));
            for (const osg::Vec3d& edge : {world[2 * v], world[2 * v + 1]})
            {
                // On the ground: a tangent plane rises only w^2 / 8R over the half-width.
                EXPECT_NEAR(lonLatOf(edge).z(), 0.0, 0.01 + c.metres * c.metres / 4.0e7);
                // Half a width from the line through each adjacent segment, straight or mitred.
                for (std::size_t other : {v - 1, v + 1})
                {
                    if (other >= spine.size())
                        continue;
                    EXPECT_NEAR(distanceToLine(edge, spine[v], spine[other]), 0.5 * c.metres, 0.005 * c.metres);
                }
            }
        }
    }
}

TEST_F(FeatureLineWidth, OutlinesInMetresCloseRoundTheirPolygon)
{
    const Compiled parts = partsOf(compileFeatures({feature(3, polygon(box(8.0, 47.0, 8.01, 47.01)).get())},
                                                   styleOf({{"fill", "#00ff00"}, {"stroke-width", "10m"}}), _srs));
    ASSERT_TRUE(parts.get("lines") && parts.get("polygons"));
    const std::vector<osg::Vec3d> world = worldVertices(*parts.get("lines"), *parts.origin);
    // Every ring vertex is one pair; the closing segment joins the last pair back to the first.
    const std::vector<unsigned> triangles = trianglesOf(*parts.get("lines"));
    EXPECT_EQ(triangles.size(), 3 * world.size());
    // At the square's corners the mitre reaches sqrt(2) half-widths out.
    for (std::size_t i = 0; i + 1 < world.size(); i += 2)
        EXPECT_NEAR((world[i + 1] - world[i]).length(), 10.0 * std::sqrt(2.0), 0.05);
}

TEST_F(FeatureLineWidth, UnusableWidthsKeepTheDefaultPixelLine)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        float width;
        Stroke::WidthUnits units;
        float expectedPixels;
    } cases[] = {
        {nan, Stroke::UNITS_METERS, 1.0f},  {-5.0f, Stroke::UNITS_METERS, 1.0f}, {1.0e9f, Stroke::UNITS_METERS, 1.0f},
        {nan, Stroke::UNITS_PIXELS, 1.0f},  {-2.0f, Stroke::UNITS_PIXELS, 1.0f}, {1.0e9f, Stroke::UNITS_PIXELS, 1.0f},
        {0.0f, Stroke::UNITS_PIXELS, 1.0f}, {4.0f, Stroke::UNITS_PIXELS, 4.0f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.width) + (c.units == Stroke::UNITS_METERS ? "m" : "px"));
        Style style;
        Stroke& stroke = style.getOrCreate<LineSymbol>()->stroke().mutable_value();
        stroke.width() = c.width;
        stroke.widthUnits() = c.units;
        veltra::test::NotifyCapture capture(osg::WARN);
        const Compiled parts = partsOf(compileFeatures({feature(1, lineString({{0, 0}, {1, 1}}).get())}, style, _srs));
        ASSERT_TRUE(parts.get("lines"));
        EXPECT_EQ(parts.get("lines")->getPrimitiveSet(0)->getMode(), GLenum(GL_LINE_STRIP));
        auto* width = dynamic_cast<osg::LineWidth*>(
            parts.get("lines")->getOrCreateStateSet()->getAttribute(osg::StateAttribute::LINEWIDTH));
        ASSERT_TRUE(width);
        EXPECT_FLOAT_EQ(width->getWidth(), c.expectedPixels);
        const bool bad = !(c.width >= 0.0f) || c.width > 1.0e6f;
        EXPECT_EQ(capture.contains("stroke width"), bad);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Labels and icons

// The markers under a compiled node, by their feature's tag (or the order they were met when untagged).
struct Markers : public osg::NodeVisitor
{
    struct Marker
    {
        osg::MatrixTransform* node = nullptr;
        std::string text;
        osgText::Text* label = nullptr;
        osg::Image* icon = nullptr;
        osg::Geometry* quad = nullptr;
    };
    Markers() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::MatrixTransform& transform) override
    {
        if (transform.getName() == "veltra.features.label")
        {
            current = &byFid[tagged(transform)];
            current->node = &transform;
        }
        traverse(transform);
    }
    void apply(osg::Drawable& drawable) override
    {
        if (!current)
            return;
        if (auto* text = dynamic_cast<osgText::Text*>(&drawable))
        {
            current->label = text;
            current->text = text->getText().createUTF8EncodedString();
        }
        if (drawable.getName() == "veltra.features.icon")
        {
            current->quad = drawable.asGeometry();
            auto* texture = dynamic_cast<osg::Texture2D*>(
                drawable.getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
            current->icon = texture ? texture->getImage() : nullptr;
        }
    }
    FeatureID tagged(const osg::Node& node)
    {
        const auto* tag = dynamic_cast<const RefFeatureID*>(node.getUserData());
        return tag ? FeatureID(*tag) : 1000 + FeatureID(byFid.size());
    }
    std::map<FeatureID, Marker> byFid;
    Marker* current = nullptr;
};

Markers markersOf(osg::Node* node)
{
    Markers markers;
    if (node)
        node->accept(markers);
    return markers;
}

class FeatureLabelling : public FeatureCompileTest
{
protected:
    FeatureLabelling()
    {
        osg::ref_ptr<osg::Image> image = new osg::Image();
        image->allocateImage(8, 4, 1, GL_RGBA, GL_UNSIGNED_BYTE);
        std::fill(image->data(), image->data() + image->getTotalSizeInBytes(), 255);
        for (const char* name : {"a.png", "b.png"})
            EXPECT_TRUE(osgDB::writeImageFile(*image, _dir.file(name)));
    }

    osg::ref_ptr<Feature> named(FeatureID fid, Geometry* geometry, const std::string& name, const std::string& icon)
    {
        osg::ref_ptr<Feature> result = feature(fid, geometry);
        result->set("name", name);
        result->set("icon", icon.empty() ? std::string() : _dir.file(icon));
        return result;
    }

    // The marker's anchor in longitude, latitude and height.
    osg::Vec3d anchorOf(const Markers::Marker& marker, const osg::ref_ptr<osg::Node>& compiled) const
    {
        const auto* origin = dynamic_cast<const osg::MatrixTransform*>(compiled.get());
        return lonLatOf(marker.node->getMatrix().getTrans() * origin->getMatrix());
    }

    veltra::test::TempDir _dir;
    Style _style = styleOf({{"text-content", "[name]"}, {"icon", "[icon]"}, {"text-fill", "#00ff00"}});
};

TEST_F(FeatureLabelling, EachFeatureGetsOneTaggedMarkerFromItsAttributes)
{
    const struct
    {
        FeatureID fid;
        osg::ref_ptr<Geometry> geometry;
        std::string name;
        std::string icon;
        bool drawn;
        bool hasIcon;
    } cases[] = {
        {1, point(10, 20), "Alpha", "a.png", true, true},
        {2, lineString({{0, 0}, {2, 0}}), "Beta", "a.png", true, true},
        {3, polygon(box(0, 0, 2, 2)), "Gamma", "b.png", true, true},
        {4, point(1, 1), "", "missing.png", false, false},
        {5, point(2, 2), "Epsilon", "missing.png", true, false},
        {6, point(3, 3), "", "b.png", true, true},
        {7, point(4, 4), "Zeta", "", true, false},
    };
    FeatureList features;
    for (const auto& c : cases)
        features.push_back(named(c.fid, c.geometry.get(), c.name, c.icon));
    veltra::test::NotifyCapture capture(osg::WARN);
    osg::ref_ptr<osg::Node> node = compileFeatures(features, _style, _srs);
    const Markers markers = markersOf(node.get());

    std::map<std::string, osg::Image*> imageOf;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.fid);
        const auto found = markers.byFid.find(c.fid);
        ASSERT_EQ(found != markers.byFid.end(), c.drawn);
        if (!c.drawn)
            continue;
        const Markers::Marker& marker = found->second;
        EXPECT_EQ(marker.text, c.name);
        EXPECT_EQ(marker.icon != nullptr, c.hasIcon);
        if (marker.icon)
        {
            EXPECT_EQ(marker.icon->s(), 8);
            // One image per distinct URI, shared by every feature naming it.
            const auto [known, fresh] = imageOf.emplace(c.icon, marker.icon);
            EXPECT_TRUE(fresh || known->second == marker.icon) << c.icon;
        }
    }
    EXPECT_EQ(imageOf.size(), 2u);
    EXPECT_EQ(markers.byFid.size(), 6u);
    const auto lines = capture.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("[FeatureLabels]") != std::string::npos &&
                                       line.find("missing.png") != std::string::npos;
                            }),
              1)
        << "one warning per unreadable URI";
    // A style that only labels draws no geometry of its own.
    const Compiled parts = partsOf(node);
    EXPECT_FALSE(parts.get("points") || parts.get("lines") || parts.get("polygons"));

    CompileOptions untagged;
    untagged.index = false;
    osg::ref_ptr<osg::Node> plainNode = compileFeatures(features, _style, _srs, untagged);
    const Markers plain = markersOf(plainNode.get());
    EXPECT_EQ(plain.byFid.size(), 6u);
    for (const auto& [fid, marker] : plain.byFid)
        EXPECT_EQ(marker.node->getUserData(), nullptr);
}

TEST_F(FeatureLabelling, LabelsAndIconsTakeTheirLookFromTheSymbolsPerFeature)
{
    const Style style = styleOf({{"text-content", "[name]"},
                                 {"text-size", "[rank] * 10"},
                                 {"text-fill", "#00ff00"},
                                 {"text-halo", "#000000"},
                                 {"text-align", "center-center"},
                                 {"icon", "[icon]"},
                                 {"icon-scale", "[rank]"},
                                 {"icon-align", "left-bottom"}});
    FeatureList features;
    for (int rank : {1, 2, 3})
    {
        features.push_back(named(FeatureID(rank), point(rank, 0).get(), "Rank", "a.png"));
        features.back()->set("rank", rank);
    }
    features.back()->set("rank", -1); // unusable: defaults for size and scale
    osg::ref_ptr<osg::Node> node = compileFeatures(features, style, _srs);
    const Markers markers = markersOf(node.get());
    const struct
    {
        FeatureID fid;
        float size;
        float iconWidth;
    } cases[] = {{1, 10.0f, 8.0f}, {2, 20.0f, 16.0f}, {3, 16.0f, 8.0f}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.fid);
        ASSERT_EQ(markers.byFid.count(c.fid), 1u);
        const Markers::Marker& marker = markers.byFid.at(c.fid);
        ASSERT_TRUE(marker.label && marker.quad);
        EXPECT_FLOAT_EQ(marker.label->getCharacterHeight(), c.size);
        EXPECT_EQ(marker.label->getColor(), osg::Vec4(0, 1, 0, 1));
        EXPECT_EQ(marker.label->getBackdropType(), osgText::Text::OUTLINE);
        EXPECT_EQ(marker.label->getAlignment(), osgText::Text::CENTER_CENTER);
        osg::BoundingBox quad;
        for (const osg::Vec3& v : *static_cast<const osg::Vec3Array*>(marker.quad->getVertexArray()))
            quad.expandBy(v);
        EXPECT_FLOAT_EQ(quad.xMin(), 0.0f);
        EXPECT_FLOAT_EQ(quad.yMin(), 0.0f);
        EXPECT_FLOAT_EQ(quad.xMax(), c.iconWidth);
        // The label starts 2 pixels right of the icon, at its middle.
        EXPECT_FLOAT_EQ(marker.label->getPosition().x(), c.iconWidth + 2.0f);
        EXPECT_FLOAT_EQ(marker.label->getPosition().y(), quad.yMax() / 2.0f);
    }
}

TEST_F(FeatureLabelling, MarkersStandAtEachKindOfAnchor)
{
    // A C open to the east: its centroid falls in the gap, so the label moves into the area.
    const LonLatRing cShape = {{0, 0}, {10, 0}, {10, 2}, {2, 2}, {2, 8}, {10, 8}, {10, 10}, {0, 10}};
    const struct
    {
        const char* name;
        osg::ref_ptr<Geometry> geometry;
        Style style;
        osg::Vec3d expected; // NaN longitude: anywhere inside the C
    } cases[] = {
        {"point", point(10, 20), _style, {10, 20, 0}},
        {"halfway along a bent line", lineString({{0, 0}, {2, 0}, {2, 4}}), _style, {2, 1, 0}},
        {"square centroid", polygon(box(4, 4, 6, 8)), _style, {5, 6, 0}},
        {"hole at the centroid", polygon(box(0, 0, 6, 6), {box(2, 2, 4, 4)}), _style, {std::nan(""), 3, 0}},
        {"C-shape", polygon(cShape), _style, {std::nan(""), 0, 0}},
        {"extruded: on the roof",
         polygon(box(4, 4, 6, 8)),
         styleOf({{"text-content", "[name]"}, {"extrusion-height", "500"}}),
         {5, 6, 500}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        osg::ref_ptr<osg::Node> node = compileFeatures({named(1, c.geometry.get(), "Here", "")}, c.style, _srs);
        const Markers markers = markersOf(node.get());
        ASSERT_EQ(markers.byFid.count(1), 1u);
        const osg::Vec3d at = anchorOf(markers.byFid.at(1), node);
        EXPECT_NEAR(at.z(), c.expected.z(), 0.05);
        if (!std::isnan(c.expected.x()))
        {
            EXPECT_NEAR(at.x(), c.expected.x(), 1e-6);
            EXPECT_NEAR(at.y(), c.expected.y(), 1e-6);
            continue;
        }
        // Inside the area: in the C's back or arms, or in the holed square's ring.
        const bool inC = c.geometry->getType() == Geometry::TYPE_POLYGON &&
                         static_cast<Polygon*>(c.geometry.get())->getHoles().empty();
        if (inC)
            EXPECT_TRUE((at.x() > 0 && at.x() < 2 && at.y() > 0 && at.y() < 10) ||
                        (at.x() > 0 && at.x() < 10 && ((at.y() > 0 && at.y() < 2) || (at.y() > 8 && at.y() < 10))))
                << at.x() << ", " << at.y();
        else
            EXPECT_TRUE(at.x() > 0 && at.x() < 6 && at.y() > 0 && at.y() < 6 &&
                        !(at.x() > 2 && at.x() < 4 && at.y() > 2 && at.y() < 4))
                << at.x() << ", " << at.y();
    }
}

TEST_F(FeatureLabelling, RemovingAFeatureTakesItsMarkerAlong)
{
    const Style withFill = styleOf({{"text-content", "[name]"}, {"fill", "#ff0000"}});
    osg::ref_ptr<FeatureSourceIndexNode> index = new FeatureSourceIndexNode();
    index->addChild(compileFeatures({named(1, polygon(box(0, 0, 1, 1)).get(), "One", ""),
                                     named(2, polygon(box(2, 0, 3, 1)).get(), "Two", "")},
                                    withFill, _srs)
                        .get());
    index->reindex();
    const Markers before = markersOf(index.get());
    ASSERT_EQ(before.byFid.size(), 2u);
    const osg::ref_ptr<osg::MatrixTransform> one = before.byFid.at(1).node;
    ASSERT_EQ(index->getDrawSet(1).nodes.size(), 1u);
    EXPECT_EQ(index->getDrawSet(1).nodes[0].get(), one.get());
    EXPECT_EQ(index->getDrawSet(1).slices.size(), 1u) << "the fill is still indexed beside the marker";

    EXPECT_TRUE(index->removeFeature(1));
    EXPECT_EQ(one->getNumParents(), 0u);
    const Markers after = markersOf(index.get());
    EXPECT_EQ(after.byFid.size(), 1u);
    EXPECT_EQ(after.byFid.count(2), 1u);
    EXPECT_EQ(after.byFid.at(2).text, "Two");
}

// ---------------------------------------------------------------------------------------------------------------
// Pixels

// Drawn in a window: a render test, which the sanitizer passes leave out (the GL driver keeps a
// little memory for the life of the process).
class FeatureCompileRender : public FeatureCompileTest
{
protected:
    static constexpr int kSize = 64;

    // Renders `scene` kSize x kSize from `eye` towards `target` (longitude, latitude, height) with the given vertical
    // field of view, and keeps the camera so that pixelOf() can tell where a place lands.
    osg::ref_ptr<osg::Image> render(osg::Node* scene, const osg::Vec3d& eye, const osg::Vec3d& target,
                                    double fov = 40.0)
    {
        osg::Vec3d eyeWorld, targetWorld;
        _srs->transformToWorld(eye, eyeWorld);
        _srs->transformToWorld(target, targetWorld);
        const double distance = (eyeWorld - targetWorld).length();
        const auto setup = [&](osg::Camera& camera) {
            camera.setViewMatrixAsLookAt(eyeWorld, targetWorld, osg::Vec3d(0, 0, 1));
            camera.setProjectionMatrixAsPerspective(fov, 1.0, 0.1 * distance, 10.0 * distance + 2.0e7);
            camera.setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
            _viewProjection = camera.getViewMatrix() * camera.getProjectionMatrix();
        };
        std::string reason;
        osg::ref_ptr<osg::Image> image = veltra::test::renderOffscreen(scene, kSize, kSize, setup, &reason);
        EXPECT_TRUE(image.valid()) << reason;
        return image;
    }

    // The pixel that (longitude, latitude, height) falls on in the last render.
    std::pair<int, int> pixelOf(const osg::Vec3d& lonLatHeight) const
    {
        osg::Vec3d world;
        _srs->transformToWorld(lonLatHeight, world);
        const osg::Vec3d ndc = world * _viewProjection;
        return {int((ndc.x() * 0.5 + 0.5) * kSize), int((ndc.y() * 0.5 + 0.5) * kSize)};
    }

    static bool inside(const std::pair<int, int>& pixel)
    {
        return pixel.first >= 0 && pixel.first < kSize && pixel.second >= 0 && pixel.second < kSize;
    }

    osg::Matrixd _viewProjection;
};

TEST_F(FeatureCompileRender, RedPolygonOverAfricaDrawsOnlyThere)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;

    osg::ref_ptr<osg::Node> africa =
        compileFeatures({feature(1, polygon(box(0, -20, 40, 20)).get())}, styleOf({{"fill", "#ff0000"}}), _srs);
    ASSERT_TRUE(africa.valid());
    osg::ref_ptr<osg::Image> image = render(africa.get(), {20, 0, 2.0e7}, {20, 0, 0});
    ASSERT_TRUE(image.valid());

    const osg::Vec4ub middle = veltra::test::pixelAt(*image, 32, 32);
    EXPECT_TRUE(veltra::test::colourNear(middle, {255, 0, 0, 255}, 10)) << veltra::test::describe(middle);
    const auto [x, y] = pixelOf({-15, 0, 0});
    ASSERT_TRUE(inside({x, y})) << x << ", " << y;
    const osg::Vec4ub sea = veltra::test::pixelAt(*image, x, y);
    EXPECT_FALSE(veltra::test::colourNear(sea, {255, 0, 0, 255}, 60)) << veltra::test::describe(sea);
}

TEST_F(FeatureCompileRender, LinesKeepTheirPixelWidthOrTheirGroundWidth)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;

    const osg::Vec4ub yellow(255, 255, 0, 255);
    // Looking straight down with a 40-degree view, one of the 64 pixels spans 2 h tan(20 deg) / 64 of ground.
    const auto groundPixels = [](double metres, double altitude) {
        return metres / (2.0 * altitude * std::tan(osg::DegreesToRadians(20.0)) / kSize);
    };
    const struct
    {
        const char* width;
        double altitude;
        double expectedRows;
    } cases[] = {
        {"5px", 2.0e6, 5.0},
        {"5px", 1.0e6, 5.0},
        {"100000m", 2.0e6, groundPixels(1.0e5, 2.0e6)},
        {"100000m", 1.0e6, groundPixels(1.0e5, 1.0e6)},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.width) + " from " + std::to_string(c.altitude));
        osg::ref_ptr<osg::Node> line =
            compileFeatures({feature(1, lineString({{10, 0}, {30, 0}}).get())},
                            styleOf({{"stroke", "#ffff00"}, {"stroke-width", c.width}}), _srs);
        osg::ref_ptr<osg::Image> image = render(line.get(), {20, 0, c.altitude}, {20, 0, 0});
        ASSERT_TRUE(image.valid());
        const int row = pixelOf({20, 0, 0}).second;
        // Yellow only in a band about the line's row, as thick as expected in every column.
        for (int x = 8; x < kSize - 8; x += 8)
        {
            int thickness = 0;
            for (int y = 0; y < kSize; ++y)
            {
                if (!veltra::test::colourNear(veltra::test::pixelAt(*image, x, y), yellow, 40))
                    continue;
                ++thickness;
                EXPECT_LE(std::abs(y - row), c.expectedRows / 2.0 + 2.0) << "stray line pixel at " << x << ", " << y;
            }
            EXPECT_NEAR(thickness, c.expectedRows, 1.5) << "column " << x;
        }
    }
}

TEST_F(FeatureCompileRender, ExtrudedBlockShowsItsWallsAndRoof)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;

    osg::ref_ptr<osg::Node> block =
        compileFeatures({feature(1, polygon(box(20, 0, 21, 1)).get())},
                        styleOf({{"fill", "#ff0000"}, {"extrusion-height", "100000"}}), _srs);
    ASSERT_TRUE(block.valid());
    // From the south and above, the south wall faces the camera below the roof.
    osg::ref_ptr<osg::Image> image = render(block.get(), {20.5, -4.0, 6.0e5}, {20.5, 0.5, 5.0e4});
    ASSERT_TRUE(image.valid());
    const osg::Vec4ub background = veltra::test::pixelAt(*image, 1, kSize - 2);
    const struct
    {
        const char* name;
        osg::Vec3d place;
        osg::Vec4ub colour;
    } expectations[] = {
        {"roof", {20.5, 0.6, 1.0e5}, {255, 0, 0, 255}},
        {"south wall", {20.5, 0.0, 4.0e4}, {204, 0, 0, 255}},
        {"beside the block", {22.0, 0.5, 0.0}, background},
    };
    for (const auto& e : expectations)
    {
        const auto [x, y] = pixelOf(e.place);
        ASSERT_TRUE(inside({x, y})) << e.name << " at " << x << ", " << y;
        const osg::Vec4ub seen = veltra::test::pixelAt(*image, x, y);
        EXPECT_TRUE(veltra::test::colourNear(seen, e.colour, 12))
            << e.name << " at " << x << ", " << y << ": " << veltra::test::describe(seen);
    }
}

TEST_F(FeatureCompileRender, LabelTextDrawsBesideItsAnchor)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;

    osg::ref_ptr<Feature> place = feature(1, point(20, 0).get());
    place->set("name", "WWW");
    osg::ref_ptr<osg::Node> labelled =
        compileFeatures({place}, styleOf({{"text-content", "[name]"}, {"text-fill", "#00ff00"}}), _srs);
    ASSERT_TRUE(labelled.valid());
    osg::ref_ptr<osg::Image> image = render(labelled.get(), {20, 0, 2.0e6}, {20, 0, 0});
    ASSERT_TRUE(image.valid());
    // The default alignment starts the text at the anchor, on its base line.
    const auto [ax, ay] = pixelOf({20, 0, 0});
    int right = 0, elsewhere = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
        {
            const osg::Vec4ub p = veltra::test::pixelAt(*image, x, y);
            if (p.g() <= 128 || p.r() >= 100)
                continue;
            (x >= ax - 1 && y >= ay - 3 ? right : elsewhere) += 1;
        }
    EXPECT_GT(right, 20);
    EXPECT_EQ(elsewhere, 0);
}

} // namespace
