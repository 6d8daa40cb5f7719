#include <PluginEarth/findFeatureModelVistor.h>
#include <PluginEarth/pluginFeatures.h>

#include "NotifyCapture.h"
#include "OffscreenRender.h"
#include "VirtualDisplay.h"

#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>
#include <osgEarthFeatures/Feature>
#include <osgEarthFeatures/FeatureModelGraph>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Math>
#include <osg/NodeVisitor>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Features;
using veltra::test::NotifyCapture;

namespace {

// ---------------------------------------------------------------------------------------------------------------
// GeoJSON texts

// `id` is written as given: a number, a quoted text, or nothing at all.
std::string feature(const std::string& id, const std::string& geometry)
{
    std::string text = R"({"type":"Feature",)";
    if (!id.empty())
        text += R"("id":)" + id + ",";
    return text + R"("properties":{"name":"F"},"geometry":)" + geometry + "}";
}

// A closed ring of `vertices` distinct corners around (lon, lat).
std::string ring(double lon, double lat, int vertices, double radius)
{
    std::ostringstream out;
    out.precision(10);
    out << R"({"type":"Polygon","coordinates":[[)";
    for (int i = 0; i <= vertices; ++i)
    {
        const double a = 2.0 * osg::PI * (i % vertices) / vertices;
        out << (i ? "," : "") << "[" << lon + radius * std::cos(a) << "," << lat + radius * std::sin(a) << "]";
    }
    out << "]]}";
    return out.str();
}

// A diamond reaching `size` / 2 from its centre, the corner (lon, lat) of its box.
std::string square(double lon, double lat, double size = 1.0)
{
    return ring(lon + size / 2, lat + size / 2, 4, size / 2);
}

std::string line(double lon, double lat)
{
    std::ostringstream out;
    out << R"({"type":"LineString","coordinates":[[)" << lon << "," << lat << "],[" << lon + 1 << "," << lat + 1
        << "]]}";
    return out.str();
}

std::string point(double lon, double lat)
{
    std::ostringstream out;
    out << R"({"type":"Point","coordinates":[)" << lon << "," << lat << "]}";
    return out.str();
}

std::string collection(const std::vector<std::string>& features)
{
    std::string text = R"({"type":"FeatureCollection","features":[)";
    for (std::size_t i = 0; i < features.size(); ++i)
        text += (i ? "," : "") + features[i];
    return text + "]}";
}

const char* const kRedStyle = R"({"fill":"#ff0000","stroke":"#ffff00","point-fill":"#00ff00"})";

// ---------------------------------------------------------------------------------------------------------------
// Scene inspection

// What the feature tags in a subgraph say: primitive sets and nodes per feature id.
struct TagCounter : public osg::NodeVisitor
{
    TagCounter() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    static const RefFeatureID* tagOf(const osg::Referenced* data) { return dynamic_cast<const RefFeatureID*>(data); }

    void apply(osg::Node& node) override
    {
        if (const RefFeatureID* tag = tagOf(node.getUserData()))
            ++nodes[FeatureID(*tag)];
        traverse(node);
    }
    void apply(osg::Geometry& geometry) override
    {
        for (unsigned i = 0; i < geometry.getNumPrimitiveSets(); ++i)
            if (const RefFeatureID* tag = tagOf(geometry.getPrimitiveSet(i)->getUserData()))
                ++sets[FeatureID(*tag)];
    }

    std::map<FeatureID, unsigned> sets;
    std::map<FeatureID, unsigned> nodes;
};

TagCounter countTags(osg::Node* node)
{
    TagCounter counter;
    if (node)
        node->accept(counter);
    return counter;
}

// The first geometry of that name (the compiler names its merged geometries by kind), or null.
struct GeometryByName : public osg::NodeVisitor
{
    explicit GeometryByName(const std::string& wanted) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), name(wanted) {}
    void apply(osg::Geometry& geometry) override
    {
        if (!found && geometry.getName() == name)
            found = &geometry;
    }
    std::string name;
    osg::Geometry* found = nullptr;
};

// Standard output collected while alive.
class CoutCapture
{
public:
    CoutCapture() : _previous(std::cout.rdbuf(_text.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(_previous); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;
    std::string text() const { return _text.str(); }

private:
    std::ostringstream _text;
    std::streambuf* _previous;
};

// ---------------------------------------------------------------------------------------------------------------
// The shared fixture: a map node over a plain map, and the manager that works on it.

class PluginFeaturesTest : public ::testing::Test
{
protected:
    void SetUp() override { features->setMapNode(mapNode.get()); }

    osg::Group* layerNode(const std::string& name) const
    {
        ModelLayer* layer = map->getModelLayerByName(name);
        osg::Node* node = layer ? mapNode->getModelLayerNode(layer) : nullptr;
        return node ? node->asGroup() : nullptr;
    }

    FeatureModelGraph* graph(const std::string& name) const
    {
        osg::Group* node = layerNode(name);
        return node && node->getNumChildren() ? dynamic_cast<FeatureModelGraph*>(node->getChild(0)) : nullptr;
    }

    unsigned layersNamed(const std::string& name) const
    {
        ModelLayerVector layers;
        map->getModelLayers(layers);
        unsigned count = 0;
        for (const auto& layer : layers)
            count += layer->getName() == name ? 1 : 0;
        return count;
    }

    // A fresh layer "roads" holding polygon 1 and polygon 2.
    void makeRoads()
    {
        ASSERT_TRUE(features->createlayer("roads", kRedStyle));
        ASSERT_TRUE(
            features->addfeatures("roads", collection({feature("1", square(10, 10)), feature("2", square(12, 10))})));
    }

    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    osg::ref_ptr<pluginFeatures> features = new pluginFeatures();
};

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Layers

TEST_F(PluginFeaturesTest, CreateLayerTwiceLeavesOneFreshLayer)
{
    ASSERT_TRUE(features->createlayer("roads", kRedStyle));
    osg::ref_ptr<ModelLayer> first = map->getModelLayerByName("roads");
    ASSERT_NE(graph("roads"), nullptr) << "child 0 of the layer node is the feature graph";
    ASSERT_TRUE(features->addfeatures("roads", collection({feature("1", square(10, 10))})));

    ASSERT_TRUE(features->createlayer("roads", kRedStyle));
    EXPECT_EQ(layersNamed("roads"), 1u);
    EXPECT_NE(map->getModelLayerByName("roads"), first.get());
    EXPECT_EQ(mapNode->getModelLayerGroup()->getNumChildren(), 1u) << "the first layer's node left the scene";
    EXPECT_TRUE(countTags(graph("roads")).sets.empty()) << "the new layer starts empty";

    ASSERT_TRUE(features->createlayer("rivers", "{}"));
    EXPECT_EQ(layersNamed("roads") + layersNamed("rivers"), 2u);
}

TEST_F(PluginFeaturesTest, ResultsTellWhatHappened)
{
    const std::string onePolygon = collection({feature("5", square(0, 0))});
    struct Case
    {
        const char* what;
        std::function<bool(pluginFeatures&)> call;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"createlayer of a new name", [](pluginFeatures& f) { return f.createlayer("new", "{}"); }, true},
        {"removelayer of a layer", [](pluginFeatures& f) { return f.removelayer("roads"); }, true},
        {"removelayer of no layer", [](pluginFeatures& f) { return f.removelayer("nope"); }, false},
        {"showlayer true", [](pluginFeatures& f) { return f.showlayer("roads", true); }, true},
        {"showlayer false", [](pluginFeatures& f) { return f.showlayer("roads", false); }, true},
        {"showlayer of no layer", [](pluginFeatures& f) { return f.showlayer("nope", true); }, false},
        {"hidelayer", [](pluginFeatures& f) { return f.hidelayer("roads"); }, true},
        {"hidelayer of no layer", [](pluginFeatures& f) { return f.hidelayer("nope"); }, true},
        {"addfeatures", [&](pluginFeatures& f) { return f.addfeatures("roads", onePolygon); }, true},
        {"addfeatures to no layer", [&](pluginFeatures& f) { return f.addfeatures("nope", onePolygon); }, false},
        {"removefeature", [](pluginFeatures& f) { return f.removefeature("roads", "1"); }, true},
        {"removefeature of an unknown id", [](pluginFeatures& f) { return f.removefeature("roads", "42"); }, true},
        {"removefeature from no layer", [](pluginFeatures& f) { return f.removefeature("nope", "1"); }, false},
    };
    for (const Case& c : cases)
    {
        CoutCapture quiet;
        makeRoads();
        EXPECT_EQ(c.call(*features), c.expected) << c.what;
    }
    EXPECT_EQ(layersNamed("nope"), 0u) << "no call makes a layer it was not asked for";
}

TEST_F(PluginFeaturesTest, ShowAndHideSwitchTheNodeMask)
{
    makeRoads();
    struct Case
    {
        const char* what;
        std::function<void(pluginFeatures&)> call;
        osg::Node::NodeMask mask;
    };
    const std::vector<Case> cases = {
        {"showlayer false", [](pluginFeatures& f) { f.showlayer("roads", false); }, 0u},
        {"showlayer true", [](pluginFeatures& f) { f.showlayer("roads", true); }, ~0u},
        {"hidelayer", [](pluginFeatures& f) { f.hidelayer("roads"); }, 0u},
        {"showlayer true again", [](pluginFeatures& f) { f.showlayer("roads", true); }, ~0u},
    };
    for (const Case& c : cases)
    {
        c.call(*features);
        EXPECT_EQ(layerNode("roads")->getNodeMask(), c.mask) << c.what;
        EXPECT_EQ(map->getModelLayerByName("roads")->getVisible(), c.mask != 0u) << c.what;
    }
}

TEST_F(PluginFeaturesTest, LayersWithoutAFeatureGraphTakeNoFeatures)
{
    Config bare("model");
    bare.set("name", "bare");
    bare.set("driver", "feature_geom");
    struct Case
    {
        const char* name;
        std::function<void()> make;
    };
    const std::vector<Case> cases = {
        {"plain", [&] { map->addModelLayer(new ModelLayer("plain", new osg::Group())); }},
        {"bare", [&] { map->addModelLayer(new ModelLayer(ModelLayerOptions(bare))); }},
        {"emptied",
         [&] {
             ASSERT_TRUE(features->createlayer("emptied", "{}"));
             osg::Group* node = layerNode("emptied");
             node->removeChildren(0, node->getNumChildren());
         }},
    };
    NotifyCapture warnings(osg::WARN); // the bare layer's source complains
    for (const Case& c : cases)
    {
        c.make();
        ASSERT_NE(map->getModelLayerByName(c.name), nullptr) << c.name;
        EXPECT_FALSE(features->addfeatures(c.name, collection({feature("1", square(0, 0))}))) << c.name;
        EXPECT_TRUE(features->removefeature(c.name, "1")) << c.name << ": the layer exists";
        EXPECT_TRUE(features->showlayer(c.name, false)) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Features

TEST_F(PluginFeaturesTest, RemovingOneFeatureLeavesItsNeighbours)
{
    // Polygons, lines and points, ids as numbers and as digit texts, in two batches (two tiles of the graph).
    const std::string first =
        collection({feature("1", square(10, 10)), feature("2", square(12, 10)), feature(R"("3")", line(10, 20)),
                    feature(R"("4")", line(12, 20)), feature("5", point(10, 30)), feature("6", point(12, 30))});
    const std::string second = collection({feature("7", square(20, 10)), feature("8", line(20, 20))});
    for (FeatureID removed : {1u, 3u, 5u, 7u, 8u})
    {
        SCOPED_TRACE(removed);
        ASSERT_TRUE(features->createlayer("mixed", kRedStyle));
        ASSERT_TRUE(features->addfeatures("mixed", first));
        ASSERT_TRUE(features->addfeatures("mixed", second));
        const std::map<FeatureID, unsigned> before = countTags(graph("mixed")).sets;
        ASSERT_EQ(before.size(), 8u);
        ASSERT_GT(before.at(removed), 0u);

        CoutCapture out;
        EXPECT_TRUE(features->removefeature("mixed", std::to_string(removed)));
        std::map<FeatureID, unsigned> expected = before;
        expected.erase(removed);
        EXPECT_EQ(countTags(graph("mixed")).sets, expected);
        EXPECT_NE(out.text().find("找到fid " + std::to_string(removed) + "\n"), std::string::npos) << out.text();

        // A second removal finds nothing more.
        EXPECT_TRUE(features->removefeature("mixed", std::to_string(removed)));
        EXPECT_EQ(countTags(graph("mixed")).sets, expected);
    }
}

TEST_F(PluginFeaturesTest, FeaturesWithoutIdsAreNumberedByPosition)
{
    ASSERT_TRUE(features->createlayer("anon", kRedStyle));
    ASSERT_TRUE(features->addfeatures(
        "anon", collection({feature("", square(0, 0)), feature("", square(2, 0)), feature("", square(4, 0))})));
    std::map<FeatureID, unsigned> sets = countTags(graph("anon")).sets;
    ASSERT_EQ(sets.size(), 3u);
    ASSERT_EQ(sets.begin()->first, 0u);

    CoutCapture quiet;
    EXPECT_TRUE(features->removefeature("anon", "1"));
    sets.erase(1);
    EXPECT_EQ(countTags(graph("anon")).sets, sets);
}

TEST_F(PluginFeaturesTest, UnknownIdsChangeNothing)
{
    makeRoads();
    const std::map<FeatureID, unsigned> before = countTags(graph("roads")).sets;
    // Text that starts with no number reads as 0; a negative id or one past a long's range matches no feature.
    for (const char* id : {"42", "abc", "", "-1", "-18446744073709551615", "99999999999999999999999", " 9x"})
    {
        CoutCapture out;
        EXPECT_TRUE(features->removefeature("roads", id)) << id;
        EXPECT_EQ(countTags(graph("roads")).sets, before) << id;
        EXPECT_EQ(out.text(), "") << id;
    }
    CoutCapture out;
    EXPECT_TRUE(features->removefeature("roads", " 2 trailing text")) << "leading blanks and trailing text as atol";
    EXPECT_EQ(countTags(graph("roads")).sets.count(2), 0u);
}

TEST_F(PluginFeaturesTest, UnreadableTextsAddNothing)
{
    ASSERT_TRUE(features->createlayer("roads", kRedStyle));
    const unsigned children = graph("roads")->getNumChildren();
    const std::vector<std::string> texts = {
        "",
        "{",
        "not json at all",
        R"({"type":"FeatureCollection","features":[)" + feature("1", point(500, 0)) + "]}",
        collection({feature("1", square(0, 0)), feature("-3", square(2, 0))}), // all or nothing
        collection({feature("1", R"({"type":"Polygon","coordinates":[[[0,0],[1,1]]]})")}),
        std::string(20000, '[') + std::string(20000, ']'),
        // Over the reader's size limit: refused before it is parsed.
        R"({"type":"FeatureCollection","features":[)" + std::string(std::size_t(65) << 20, ' ') + "]}",
    };
    for (const std::string& text : texts)
    {
        NotifyCapture warnings(osg::WARN);
        EXPECT_FALSE(features->addfeatures("roads", text)) << text.substr(0, 80);
        EXPECT_EQ(graph("roads")->getNumChildren(), children) << text.substr(0, 80);
        EXPECT_TRUE(warnings.contains("FeatureModelGraph")) << text.substr(0, 80);
    }
}

TEST_F(PluginFeaturesTest, StyleColoursReachTheCompiledGeometry)
{
    const std::string text =
        collection({feature("1", square(0, 0)), feature("2", line(5, 5)), feature("3", point(9, 9))});
    struct Case
    {
        const char* style;
        const char* geometry;
        osg::Vec4 colour;
        bool warned;
    };
    const std::vector<Case> cases = {
        {R"({"fill":"#ff0000"})", "veltra.features.polygons", {1, 0, 0, 1}, false},
        {R"({"fill":"#00ff0080"})", "veltra.features.polygons", {0, 1, 0, 128.0f / 255.0f}, false},
        {R"({"fill":"#0000ff","fill-opacity":"0.5"})", "veltra.features.polygons", {0, 0, 1, 0.5f}, false},
        {R"({"stroke":"#ffff00","stroke-width":3})", "veltra.features.lines", {1, 1, 0, 1}, false},
        {R"({"point-fill":"#00ffff","point-size":"4"})", "veltra.features.points", {0, 1, 1, 1}, false},
        {R"({"fill":"#ff0000", not json)", "veltra.features.polygons", {1, 1, 1, 1}, true},
        {"", "veltra.features.polygons", {1, 1, 1, 1}, true},
    };
    for (const Case& c : cases)
    {
        NotifyCapture warnings(osg::WARN);
        ASSERT_TRUE(features->createlayer("styled", c.style)) << c.style;
        EXPECT_EQ(warnings.contains("is not JSON"), c.warned) << c.style;
        ASSERT_TRUE(features->addfeatures("styled", text)) << c.style;
        GeometryByName finder(c.geometry);
        graph("styled")->accept(finder);
        ASSERT_NE(finder.found, nullptr) << c.style;
        const auto* colours = dynamic_cast<const osg::Vec4Array*>(finder.found->getColorArray());
        ASSERT_TRUE(colours && !colours->empty()) << c.style;
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR((*colours)[0][i], c.colour[i], 0.01f) << c.style << " channel " << i;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// The visitor

TEST(PluginFeaturesVisitor, TakesTaggedSetsAndCollectsTaggedNodes)
{
    osg::ref_ptr<osg::Group> root = new osg::Group();
    osg::ref_ptr<osg::Group> tagged = new osg::Group();
    tagged->setUserData(new RefFeatureID(7));
    root->addChild(tagged.get());

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry();
    geometry->setUserData(new RefFeatureID(7)); // a tag on the drawable itself is not looked at
    osg::ref_ptr<RefFeatureID> seven = new RefFeatureID(7);
    std::vector<osg::ref_ptr<osg::PrimitiveSet>> sets;
    for (FeatureID fid : {7u, 8u, 7u, 9u})
    {
        sets.push_back(new osg::DrawArrays(GL_POINTS, 0, 1));
        sets.back()->setUserData(fid == 7 ? seven.get() : new RefFeatureID(fid));
        geometry->addPrimitiveSet(sets.back().get());
    }
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_POINTS, 0, 1)); // untagged
    osg::ref_ptr<osg::Geode> geode = new osg::Geode();
    geode->addDrawable(geometry.get());
    root->addChild(geode.get());

    findFeatureModelVistor visitor(7);
    CoutCapture out;
    root->accept(visitor);
    EXPECT_EQ(out.text(), "找到矢量信息 fid 7\n找到fid 7\n找到fid 7\n");
    ASSERT_EQ(visitor.foundNodes.size(), 1u);
    EXPECT_EQ(visitor.foundNodes[0].get(), tagged.get());
    EXPECT_EQ(tagged->getNumParents(), 1u) << "the visitor only collects nodes";
    ASSERT_EQ(geometry->getNumPrimitiveSets(), 3u);
    EXPECT_EQ(geometry->getPrimitiveSet(0), sets[1].get()) << "the others keep their order";
    EXPECT_EQ(geometry->getPrimitiveSet(1), sets[3].get());

    findFeatureModelVistor none;
    EXPECT_EQ(none.featureId, 0);
    root->accept(none);
    EXPECT_TRUE(none.foundNodes.empty());
    EXPECT_EQ(geometry->getNumPrimitiveSets(), 3u);
}

TEST_F(PluginFeaturesTest, TaggedNodesLeaveEveryParent)
{
    ASSERT_TRUE(features->createlayer("labels", R"({"fill":"#ff0000","text-content":"\"X\""})"));
    ASSERT_TRUE(features->addfeatures("labels", collection({feature("1", square(0, 0)), feature("2", square(4, 0))})));
    TagCounter before = countTags(graph("labels"));
    ASSERT_EQ(before.nodes.count(1) + before.nodes.count(2), 2u) << "each feature gets a tagged marker node";

    // A node of feature 2 also shown elsewhere loses that place as well.
    osg::ref_ptr<osg::Group> elsewhere = new osg::Group();
    osg::ref_ptr<osg::Group> extra = new osg::Group();
    extra->setUserData(new RefFeatureID(2));
    graph("labels")->addChild(extra.get());
    elsewhere->addChild(extra.get());

    CoutCapture out;
    EXPECT_TRUE(features->removefeature("labels", "2"));
    const TagCounter after = countTags(graph("labels"));
    EXPECT_EQ(after.nodes.count(2), 0u);
    EXPECT_EQ(after.sets.count(2), 0u);
    using Counts = std::map<FeatureID, unsigned>;
    EXPECT_EQ(after.nodes, (Counts{{1, 1}}));
    EXPECT_EQ(after.sets, (Counts{{1, before.sets.at(1)}}));
    EXPECT_EQ(extra->getNumParents(), 0u);
    EXPECT_NE(out.text().find("找到矢量信息 fid 2\n"), std::string::npos) << out.text();
}

// ---------------------------------------------------------------------------------------------------------------
// Map node lifetime and object boilerplate

TEST_F(PluginFeaturesTest, WithoutALiveMapNodeEveryCallIsANoOp)
{
    osg::ref_ptr<Map> otherMap = new Map();
    struct Case
    {
        const char* what;
        std::function<osg::ref_ptr<pluginFeatures>()> make;
    };
    const std::vector<Case> cases = {
        {"never given", [] { return osg::ref_ptr<pluginFeatures>(new pluginFeatures()); }},
        {"cleared",
         [&] {
             osg::ref_ptr<pluginFeatures> f = new pluginFeatures();
             f->setMapNode(mapNode.get());
             f->setMapNode(nullptr);
             return f;
         }},
        {"died",
         [&] {
             osg::ref_ptr<pluginFeatures> f = new pluginFeatures();
             osg::ref_ptr<MapNode> shortLived = new MapNode(otherMap.get());
             f->setMapNode(shortLived.get());
             EXPECT_TRUE(f->createlayer("roads", kRedStyle));
             return f; // the map node dies here; its map (and layer) stay
         }},
        {"a clone",
         [&] {
             return osg::ref_ptr<pluginFeatures>(
                 static_cast<pluginFeatures*>(features->clone(osg::CopyOp::DEEP_COPY_ALL)));
         }},
    };
    for (const Case& c : cases)
    {
        osg::ref_ptr<pluginFeatures> f = c.make();
        EXPECT_FALSE(f->createlayer("roads", kRedStyle)) << c.what;
        EXPECT_FALSE(f->removelayer("roads")) << c.what;
        EXPECT_FALSE(f->showlayer("roads", true)) << c.what;
        EXPECT_TRUE(f->hidelayer("roads")) << c.what;
        EXPECT_FALSE(f->addfeatures("roads", collection({feature("1", square(0, 0))}))) << c.what;
        EXPECT_FALSE(f->removefeature("roads", "1")) << c.what;
    }
    EXPECT_EQ(layersNamed("roads"), 0u);
    ModelLayerVector left;
    otherMap->getModelLayers(left);
    EXPECT_EQ(left.size(), 1u) << "a dead map node's map is not touched";
}

TEST_F(PluginFeaturesTest, ObjectBoilerplate)
{
    EXPECT_STREQ(features->className(), "pluginFeatures");
    EXPECT_STREQ(features->libraryName(), "plugin");
    osg::ref_ptr<osg::Object> blank = features->cloneType();
    EXPECT_TRUE(features->isSameKindAs(blank.get()));
    EXPECT_FALSE(features->isSameKindAs(mapNode.get()));

    osg::ref_ptr<pluginFeatures> copy = new pluginFeatures(*features);
    EXPECT_TRUE(copy->createlayer("copied", "{}")) << "the copy shares the map node";
    EXPECT_FALSE(static_cast<pluginFeatures*>(blank.get())->createlayer("blank", "{}"));
}

// ---------------------------------------------------------------------------------------------------------------
// Scene changes

TEST_F(PluginFeaturesTest, OnlyAttachmentsRunInsideTheRunner)
{
    // An icon that cannot be read makes compiling warn, which shows whether compiling came before the runner.
    const char* const iconStyle = R"({"fill":"#ff0000","icon":"\"no-such-icon.png\""})";
    NotifyCapture warnings(osg::WARN);
    int runs = 0;
    std::function<void()> check;
    features->setSceneChangeRunner([&](const std::function<void()>& change) {
        ++runs;
        if (check)
            check();
        change();
    });

    struct Case
    {
        const char* what;
        std::function<bool()> call;
        int runs;
    };
    unsigned childrenBefore = 0;
    const std::vector<Case> cases = {
        {"createlayer", [&] { return features->createlayer("roads", iconStyle); }, 1},
        {"createlayer replacing", [&] { return features->createlayer("roads", iconStyle); }, 1},
        {"showlayer", [&] { return features->showlayer("roads", false); }, 1},
        {"hidelayer", [&] { return features->hidelayer("roads"); }, 1},
        {"showlayer of no layer", [&] { return !features->showlayer("nope", true); }, 0},
        {"addfeatures",
         [&] {
             childrenBefore = graph("roads")->getNumChildren();
             check = [&] {
                 EXPECT_TRUE(warnings.contains("cannot read the icon")) << "compiled before the runner";
                 EXPECT_EQ(graph("roads")->getNumChildren(), childrenBefore) << "attached only inside it";
             };
             const bool added = features->addfeatures("roads", collection({feature("1", square(0, 0))}));
             check = nullptr;
             return added && graph("roads")->getNumChildren() == childrenBefore + 1;
         },
         1},
        {"addfeatures of bad text", [&] { return !features->addfeatures("roads", "{"); }, 0},
        {"addfeatures to no layer", [&] { return !features->addfeatures("nope", "{}"); }, 0},
        {"removefeature", [&] { return features->removefeature("roads", "1"); }, 1},
        {"removefeature from no layer", [&] { return !features->removefeature("nope", "1"); }, 0},
        {"removelayer", [&] { return features->removelayer("roads"); }, 1},
        {"removelayer of no layer", [&] { return !features->removelayer("roads"); }, 0},
    };
    CoutCapture quiet;
    for (const Case& c : cases)
    {
        runs = 0;
        EXPECT_TRUE(c.call()) << c.what;
        EXPECT_EQ(runs, c.runs) << c.what;
    }
}

TEST_F(PluginFeaturesTest, LayerGoneWhileCompilingGetsNothing)
{
    osg::ref_ptr<pluginFeatures> other = new pluginFeatures();
    other->setMapNode(mapNode.get());
    struct Case
    {
        const char* what;
        std::function<void()> interloper; // runs just before the attachment, as another change would
    };
    const std::vector<Case> cases = {
        {"layer removed", [&] { map->removeModelLayer(map->getModelLayerByName("roads")); }},
        {"layer replaced", [&] { other->createlayer("roads", "{}"); }},
    };
    for (const Case& c : cases)
    {
        features->setSceneChangeRunner(nullptr);
        makeRoads();
        osg::ref_ptr<FeatureModelGraph> held = graph("roads");
        const unsigned children = held->getNumChildren();
        features->setSceneChangeRunner([&](const std::function<void()>& change) {
            c.interloper();
            change();
        });
        EXPECT_FALSE(features->addfeatures("roads", collection({feature("3", square(0, 0))}))) << c.what;
        EXPECT_EQ(held->getNumChildren(), children) << c.what;
        if (FeatureModelGraph* now = graph("roads"))
        {
            EXPECT_TRUE(countTags(now).sets.empty()) << c.what << ": the replacement got nothing either";
        }
    }
}

// One thread pushes and removes features through a runner holding the scene lock while another thread walks the
// scene under the same lock, as the rendering thread does.
TEST(PluginFeaturesThreads, AddAndRemoveWhileAnotherThreadTraverses)
{
    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    osg::ref_ptr<pluginFeatures> features = new pluginFeatures();
    features->setMapNode(mapNode.get());
    std::mutex sceneMutex; // guards the map node's subgraph: changed by the page thread, walked by the drawing one
    features->setSceneChangeRunner([&](const std::function<void()>& change) {
        std::lock_guard<std::mutex> lock(sceneMutex);
        change();
    });
    ASSERT_TRUE(features->createlayer("live", kRedStyle));

    std::atomic<bool> done{false};
    std::atomic<unsigned> walks{0};
    std::thread drawing([&] {
        while (!done)
        {
            std::lock_guard<std::mutex> lock(sceneMutex);
            countTags(mapNode.get());
            mapNode->getBound();
            ++walks;
        }
    });

    CoutCapture quiet;
    constexpr int kRounds = 40;
    bool allAdded = true;
    for (int i = 1; i <= kRounds; ++i)
    {
        allAdded = features->addfeatures("live", collection({feature(std::to_string(i), square(i % 170, 0)),
                                                             feature(std::to_string(1000 + i), line(0, i % 80))})) &&
                   allAdded;
        features->removefeature("live", std::to_string(i - 1));
        features->showlayer("live", i % 2 == 0);
    }
    done = true;
    drawing.join();

    EXPECT_TRUE(allAdded);
    EXPECT_GT(walks.load(), 0u);
    std::lock_guard<std::mutex> lock(sceneMutex);
    osg::Group* node = mapNode->getModelLayerNode(map->getModelLayerByName("live"))->asGroup();
    const std::map<FeatureID, unsigned> sets = countTags(node).sets;
    EXPECT_EQ(sets.count(kRounds), 1u);
    EXPECT_EQ(sets.count(kRounds - 1), 0u);
    EXPECT_EQ(sets.size(), std::size_t(kRounds + 1)) << "the last polygon and every line";
}

// ---------------------------------------------------------------------------------------------------------------
// Pixels

TEST(PluginFeaturesRender, RedPolygonShowsUntilRemoved)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;

    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    osg::ref_ptr<pluginFeatures> features = new pluginFeatures();
    features->setMapNode(mapNode.get());
    ASSERT_TRUE(features->createlayer("red", R"({"fill":"#ff0000"})"));
    ASSERT_TRUE(features->addfeatures("red", collection({feature("11", square(0, -20, 40))})));
    osg::ref_ptr<osg::Node> layer = mapNode->getModelLayerNode(map->getModelLayerByName("red"));

    const SpatialReference* srs = map->getSRS();
    const auto setup = [&](osg::Camera& camera) {
        osg::Vec3d eye, target;
        srs->transformToWorld(osg::Vec3d(20, 0, 2.0e7), eye);
        srs->transformToWorld(osg::Vec3d(20, 0, 0), target);
        camera.setViewMatrixAsLookAt(eye, target, osg::Vec3d(0, 0, 1));
        camera.setProjectionMatrixAsPerspective(40.0, 1.0, 1.0e5, 5.0e7);
        camera.setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
        camera.setClearColor(osg::Vec4(0, 0, 0, 1));
    };
    const osg::Vec4ub red(255, 0, 0, 255);

    osg::ref_ptr<osg::Image> shown = veltra::test::renderOffscreen(layer.get(), 64, 64, setup, &why);
    ASSERT_TRUE(shown.valid()) << why;
    const osg::Vec4ub before = veltra::test::pixelAt(*shown, 32, 32);
    EXPECT_TRUE(veltra::test::colourNear(before, red, 10)) << veltra::test::describe(before);

    CoutCapture quiet;
    ASSERT_TRUE(features->removefeature("red", "11"));
    osg::ref_ptr<osg::Image> removed = veltra::test::renderOffscreen(layer.get(), 64, 64, setup, &why);
    ASSERT_TRUE(removed.valid()) << why;
    const osg::Vec4ub after = veltra::test::pixelAt(*removed, 32, 32);
    EXPECT_FALSE(veltra::test::colourNear(after, red, 60)) << veltra::test::describe(after);
}
