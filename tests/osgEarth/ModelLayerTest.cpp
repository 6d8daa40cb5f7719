#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>
#include <osgEarth/ModelSource>

#include "NotifyCapture.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/observer_ptr>

#include <string>
#include <vector>

using namespace osgEarth;
using veltra::test::NotifyCapture;

namespace {

// Builds a fresh node named after the layer on each call and remembers the map it was asked for.
class NamedNodeSource : public ModelSource
{
public:
    explicit NamedNodeSource(const ModelSourceOptions& options = ModelSourceOptions()) : ModelSource(options) {}

    osg::Node* createNode(const Map* map, const osgDB::Options* /*dbOptions*/) override
    {
        ++calls;
        askedFor = map;
        lastNode = new osg::Geode();
        lastNode->setName("content:" + getOptions().getConfig().value("name"));
        return lastNode.get();
    }

    int calls = 0;
    const Map* askedFor = nullptr;
    osg::observer_ptr<osg::Node> lastNode;
};

// Records every notification as "added:<name>@<index>" or "removed:<name>".
class RecordingCallback : public MapCallback
{
public:
    void onModelLayerAdded(ModelLayer* layer, unsigned index) override
    {
        events.push_back("added:" + layer->getName() + "@" + std::to_string(index));
    }
    void onModelLayerRemoved(ModelLayer* layer) override { events.push_back("removed:" + layer->getName()); }

    std::vector<std::string> events;
};

class ModelLayers : public ::testing::Test
{
protected:
    osg::ref_ptr<ModelLayer> makeLayer(const std::string& name, osg::ref_ptr<NamedNodeSource>* source = nullptr)
    {
        Config conf("model");
        conf.set("name", name);
        osg::ref_ptr<NamedNodeSource> made = new NamedNodeSource(ModelSourceOptions(conf));
        if (source)
        {
            *source = made;
        }
        return new ModelLayer(ModelLayerOptions(name), made.get());
    }

    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
};

} // namespace

TEST_F(ModelLayers, AddLookupAndRemoveKeepOrderAndBumpTheRevision)
{
    osg::ref_ptr<RecordingCallback> recorder = new RecordingCallback();
    EXPECT_EQ(map->addMapCallback(recorder.get()), recorder.get());

    osg::ref_ptr<ModelLayer> roads = makeLayer("roads");
    osg::ref_ptr<ModelLayer> rivers = makeLayer("rivers");
    const int before = map->getDataModelRevision();
    map->addModelLayer(roads.get());
    map->addModelLayer(rivers.get());
    map->addModelLayer(roads.get()); // already there: no second entry, no event
    map->addModelLayer(nullptr);

    ModelLayerVector layers;
    EXPECT_EQ(map->getModelLayers(layers), before + 2);
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0], roads);
    EXPECT_EQ(layers[1], rivers);
    EXPECT_EQ(map->getModelLayerByName("rivers"), rivers.get());
    EXPECT_EQ(map->getModelLayerByName("River"), nullptr) << "names match exactly";

    map->removeModelLayer(roads.get());
    map->removeModelLayer(roads.get()); // no longer there: ignored
    EXPECT_EQ(map->getModelLayerByName("roads"), nullptr);
    EXPECT_EQ(map->getDataModelRevision(), before + 3);

    map->removeMapCallback(recorder.get());
    map->addModelLayer(roads.get());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"added:roads@0", "added:rivers@1", "removed:roads"}))
        << "a removed callback hears nothing more";
}

TEST_F(ModelLayers, MapNodeBuildsTheLayerNodeInsideAddModelLayer)
{
    osg::ref_ptr<NamedNodeSource> source;
    osg::ref_ptr<ModelLayer> layer = makeLayer("roads", &source);
    map->addModelLayer(layer.get());

    EXPECT_EQ(source->calls, 1);
    EXPECT_EQ(source->askedFor, map.get());
    auto* node = dynamic_cast<osg::Group*>(mapNode->getModelLayerNode(layer.get()));
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->getNumChildren(), 1u);
    EXPECT_EQ(node->getChild(0), source->lastNode.get()) << "child 0 is what the source built";
    ASSERT_EQ(node->getNumParents(), 1u);
    EXPECT_EQ(node->getParent(0), mapNode->getModelLayerGroup());

    // Asking again gives the same graph, without another build.
    EXPECT_EQ(layer->getOrCreateSceneGraph(map.get()), node);
    EXPECT_EQ(source->calls, 1);
}

TEST_F(ModelLayers, RemovalDropsTheGroupAndTheLastReferenceToTheBuiltNode)
{
    osg::ref_ptr<NamedNodeSource> source;
    osg::ref_ptr<ModelLayer> layer = makeLayer("roads", &source);
    map->addModelLayer(layer.get());
    osg::observer_ptr<osg::Node> group = mapNode->getModelLayerNode(layer.get());
    ASSERT_TRUE(group.valid());
    ASSERT_TRUE(source->lastNode.valid());

    map->removeModelLayer(layer.get());
    EXPECT_EQ(mapNode->getModelLayerNode(layer.get()), nullptr);
    EXPECT_EQ(mapNode->getModelLayerGroup()->getNumChildren(), 0u);
    EXPECT_FALSE(group.valid()) << "the layer's group outlived its removal";
    EXPECT_FALSE(source->lastNode.valid()) << "the source's node outlived its layer's removal";

    // Added again, the layer builds afresh.
    map->addModelLayer(layer.get());
    EXPECT_EQ(source->calls, 2);
    EXPECT_NE(mapNode->getModelLayerNode(layer.get()), nullptr);
}

TEST_F(ModelLayers, MapNodeMadeLaterPicksUpExistingLayersAndDetachesWhenGone)
{
    osg::ref_ptr<Map> shared = new Map();
    osg::ref_ptr<ModelLayer> layer = makeLayer("roads");
    shared->addModelLayer(layer.get());
    {
        osg::ref_ptr<MapNode> late = new MapNode(shared.get());
        EXPECT_NE(late->getModelLayerNode(layer.get()), nullptr);
    }
    // The map outlives its map node: changing it afterwards must not reach the dead node.
    shared->removeModelLayer(layer.get());
    shared->addModelLayer(makeLayer("rivers").get());
    EXPECT_NE(shared->getModelLayerByName("rivers"), nullptr);
}

TEST_F(ModelLayers, VisibilityMapsToTheNodeMaskBeforeAndAfterBuilding)
{
    osg::ref_ptr<ModelLayer> hidden = makeLayer("hidden");
    hidden->setVisible(false);
    map->addModelLayer(hidden.get());
    osg::Node* node = mapNode->getModelLayerNode(hidden.get());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->getNodeMask(), 0u);

    hidden->setVisible(true);
    EXPECT_TRUE(hidden->getVisible());
    EXPECT_EQ(node->getNodeMask(), ~0u);
    hidden->setVisible(false);
    EXPECT_EQ(node->getNodeMask(), 0u);

    hidden->setOpacity(0.25f);
    EXPECT_FLOAT_EQ(hidden->getOpacity(), 0.25f);
}

TEST_F(ModelLayers, DisabledLayersAndLayersFromNodes)
{
    ModelLayerOptions options("off");
    options.enabled() = false;
    osg::ref_ptr<NamedNodeSource> source = new NamedNodeSource();
    osg::ref_ptr<ModelLayer> off = new ModelLayer(options, source.get());
    map->addModelLayer(off.get());
    EXPECT_FALSE(off->getEnabled());
    EXPECT_EQ(mapNode->getModelLayerNode(off.get()), nullptr);
    EXPECT_EQ(source->calls, 0) << "a disabled layer builds nothing";
    EXPECT_EQ(map->getModelLayerByName("off"), off.get()) << "but it is still one of the map's layers";

    // A layer over a caller's node keeps that node across removal, so it can come back.
    osg::ref_ptr<osg::Node> given = new osg::Geode();
    osg::ref_ptr<ModelLayer> fromNode = new ModelLayer("given", given.get());
    for (int round = 0; round < 2; ++round)
    {
        map->addModelLayer(fromNode.get());
        auto* node = dynamic_cast<osg::Group*>(mapNode->getModelLayerNode(fromNode.get()));
        ASSERT_NE(node, nullptr) << "round " << round;
        EXPECT_EQ(node->getChild(0), given.get());
        map->removeModelLayer(fromNode.get());
    }
}

TEST(ModelLayerOptionsTest, ReadsLayerAndDriverKeysAndWritesThemBack)
{
    Config conf("model");
    conf.set("name", "roads");
    conf.set("driver", "feature_geom");
    conf.set("visible", "false");
    conf.set("lighting", "false");
    conf.set("opacity", "0.5");
    conf.set("render_order", "3");
    conf.set("max_range", "50000");
    Config features("features");
    features.set("driver", "tfs");
    conf.add(features);
    ModelLayerOptions options(conf);

    EXPECT_EQ(options.name().get(), "roads");
    EXPECT_FALSE(options.visible().get());
    EXPECT_FALSE(options.lightingEnabled().get());
    EXPECT_FLOAT_EQ(options.opacity().get(), 0.5f);
    EXPECT_TRUE(options.enabled().get()) << "default";
    ASSERT_TRUE(options.driver().isSet());
    EXPECT_EQ(options.driver()->getDriver(), "feature_geom");
    EXPECT_EQ(options.driver()->renderOrder().get(), 3);
    EXPECT_FLOAT_EQ(options.driver()->maxRange().get(), 50000.0f);
    EXPECT_TRUE(options.driver()->depthTestEnabled().get()) << "default";

    // The layer's later changes win over the copy its driver options took.
    options.visible() = true;
    const Config written = options.getConfig();
    EXPECT_EQ(written.key(), "model");
    EXPECT_EQ(written.value("visible"), "true");
    EXPECT_EQ(written.value("driver"), "feature_geom");
    EXPECT_EQ(written.child("features").value("driver"), "tfs") << "the driver's own keys survive";
    EXPECT_EQ(ModelLayerOptions(written).getConfig().value("render_order"), "3");

    EXPECT_FALSE(ModelLayerOptions(Config("model")).driver().isSet()) << "no driver named, no driver options";
}

TEST(ModelSourceFactoryTest, CreatesRegisteredDriversAndRefusesOthers)
{
    const std::string driver = "test_model_driver";
    ModelSourceFactory::registerDriver(driver, [](const ModelSourceOptions& options) {
        return osg::ref_ptr<ModelSource>(new NamedNodeSource(options));
    });
    ModelSourceOptions known;
    known.setDriver("Test_Model_Driver");
    EXPECT_TRUE(ModelSourceFactory::create(known).valid()) << "driver names match without regard to case";

    // A layer made from options finds its source through the factory.
    Config conf("model");
    conf.set("name", "made");
    conf.set("driver", driver);
    osg::ref_ptr<ModelLayer> layer = new ModelLayer(ModelLayerOptions(conf));
    EXPECT_NE(dynamic_cast<NamedNodeSource*>(layer->getModelSource()), nullptr);

    ModelSourceFactory::unregisterDriver(driver);
    EXPECT_FALSE(ModelSourceFactory::isRegistered(driver));

    struct Case
    {
        const char* driver;
        const char* warning;
    };
    for (const Case& c : {Case{"no_such_driver", "no_such_driver"}, Case{"", "names no driver"},
                          Case{"test_model_driver", "test_model_driver"}})
    {
        NotifyCapture warnings(osg::WARN);
        ModelSourceOptions options;
        options.setDriver(c.driver);
        EXPECT_FALSE(ModelSourceFactory::create(options).valid()) << c.driver;
        EXPECT_TRUE(warnings.contains(c.warning)) << c.driver;
    }

    // A layer with an unknown driver exists but builds nothing.
    NotifyCapture quiet(osg::WARN);
    Config unknown("model");
    unknown.set("name", "ghost");
    unknown.set("driver", "no_such_driver");
    osg::ref_ptr<ModelLayer> ghost = new ModelLayer(ModelLayerOptions(unknown));
    EXPECT_EQ(ghost->getModelSource(), nullptr);
    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    map->addModelLayer(ghost.get());
    EXPECT_EQ(mapNode->getModelLayerNode(ghost.get()), nullptr);
}
