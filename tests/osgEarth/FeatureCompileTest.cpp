#include "OffscreenRender.h"
#include "VirtualDisplay.h"

#include <osgEarth/SpatialReference>
#include <osgEarthFeatures/Feature>
#include <osgEarthFeatures/FeatureSourceIndexNode>
#include <osgEarthSymbology/Style>
#include <src/features/compile/FeatureCompiler.h>

#include <osg/Geode>
#include <osg/LineWidth>
#include <osg/MatrixTransform>
#include <osg/Point>
#include <osg/TriangleIndexFunctor>

#include <gtest/gtest.h>

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

// Drawn in a window: a render test, which the sanitizer passes leave out (the GL driver keeps a
// little memory for the life of the process).
class FeatureCompileRender : public FeatureCompileTest
{};

TEST_F(FeatureCompileRender, RedPolygonOverAfricaDrawsOnlyThere)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;

    osg::ref_ptr<osg::Node> africa =
        compileFeatures({feature(1, polygon(box(0, -20, 40, 20)).get())}, styleOf({{"fill", "#ff0000"}}), _srs);
    ASSERT_TRUE(africa.valid());
    osg::Vec3d eye, centre, atlantic;
    _srs->transformToWorld(osg::Vec3d(20, 0, 2.0e7), eye);
    _srs->transformToWorld(osg::Vec3d(20, 0, 0), centre);
    _srs->transformToWorld(osg::Vec3d(-15, 0, 0), atlantic);
    osg::Matrixd view, projection;
    const auto lookDown = [&](osg::Camera& camera) {
        camera.setViewMatrixAsLookAt(eye, centre, osg::Vec3d(0, 0, 1));
        camera.setProjectionMatrixAsPerspective(40.0, 1.0, 1e6, 1e8);
        camera.setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
        view = camera.getViewMatrix();
        projection = camera.getProjectionMatrix();
    };
    std::string reason;
    osg::ref_ptr<osg::Image> image = veltra::test::renderOffscreen(africa.get(), 64, 64, lookDown, &reason);
    ASSERT_TRUE(image.valid()) << reason;

    const osg::Vec4ub middle = veltra::test::pixelAt(*image, 32, 32);
    EXPECT_TRUE(veltra::test::colourNear(middle, {255, 0, 0, 255}, 10)) << veltra::test::describe(middle);
    const osg::Vec3d ndc = atlantic * view * projection;
    const int x = int((ndc.x() * 0.5 + 0.5) * 64), y = int((ndc.y() * 0.5 + 0.5) * 64);
    ASSERT_TRUE(x >= 0 && x < 64 && y >= 0 && y < 64) << x << ", " << y;
    const osg::Vec4ub sea = veltra::test::pixelAt(*image, x, y);
    EXPECT_FALSE(veltra::test::colourNear(sea, {255, 0, 0, 255}, 60)) << veltra::test::describe(sea);
}

} // namespace
