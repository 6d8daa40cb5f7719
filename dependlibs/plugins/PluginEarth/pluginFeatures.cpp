#include <PluginEarth/pluginFeatures.h>

#include <PluginEarth/findFeatureModelVistor.h>

#include <osgEarth/Config>
#include <osgEarth/Map>
#include <osgEarth/ModelLayer>
#include <osgEarthDrivers/feature_tfs/TFSFeatureOptions>
#include <osgEarthFeatures/FeatureModelGraph>
#include <osgEarthFeatures/FeatureModelSource>
#include <osgEarthFeatures/FeatureSource>
#include <osgEarthSymbology/Style>
#include <osgEarthSymbology/StyleSheet>

#include <osg/Notify>

#include <cstdlib>
#include <utility>

using namespace osgEarth;
using namespace osgEarth::Features;
using namespace osgEarth::Symbology;

namespace {

const char* const kTag = "[pluginFeatures] ";

// The pseudo-file of tile 0/0/0 of the first graph: the name every pushed batch of features is compiled under.
const char* const kPushedTileURI = "1.0_0_0.osgearth_pseudo_fmg";

// The layer's only style, read from the page's JSON object of symbology properties.
osg::ref_ptr<StyleSheet> styleSheetFrom(const std::string& layerName, const std::string& styleJson)
{
    Config properties;
    std::string error;
    if (!properties.fromJSON(styleJson, error))
    {
        OSG_WARN << kTag << "the style of layer \"" << layerName << "\" is not JSON (" << error
                 << "); the layer is drawn with the default style" << std::endl;
    }
    Style style("");
    style.fromSLD(properties);
    osg::ref_ptr<StyleSheet> sheet = new StyleSheet();
    sheet->addStyle(style);
    return sheet;
}

// A feature-geometry layer over an empty, URL-less TFS source, indexed so features can be found by id.
osg::ref_ptr<ModelLayer> makeFeatureLayer(const std::string& name, const std::string& styleJson)
{
    ModelLayerOptions layerOptions{ConfigOptions(Config())};
    layerOptions.name() = name;

    Drivers::TFSFeatureOptions sourceOptions{ConfigOptions(Config())};
    sourceOptions.format() = "json";
    osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(sourceOptions);

    FeatureModelSourceOptions modelOptions{ConfigOptions(Config())};
    modelOptions.setDriver("feature_geom");
    modelOptions.featureSource() = source;
    // The live source does not survive the layer's copy of its driver options (only configuration does), so the
    // source's options ride along and the driver opens an equal source from them.
    modelOptions.featureOptions() = sourceOptions;
    modelOptions.styles() = styleSheetFrom(name, styleJson);
    modelOptions.featureIndexing() = FeatureSourceIndexOptions();
    modelOptions.featureIndexing()->enabled() = true;

    layerOptions.driver() = modelOptions;
    return new ModelLayer(layerOptions);
}

// The feature graph at child 0 of the node the map node built for `layer`, or null.
FeatureModelGraph* graphOf(MapNode& node, ModelLayer* layer)
{
    osg::Node* layerNode = layer ? node.getModelLayerNode(layer) : nullptr;
    osg::Group* group = layerNode ? layerNode->asGroup() : nullptr;
    if (!group || group->getNumChildren() == 0)
        return nullptr;
    return dynamic_cast<FeatureModelGraph*>(group->getChild(0));
}

} // namespace

pluginFeatures::pluginFeatures() = default;

pluginFeatures::pluginFeatures(const pluginFeatures& other, const osg::CopyOp& copyop)
    : osg::Object(other, copyop), mapNode(other.mapNode), _runner(other._runner)
{}

pluginFeatures::~pluginFeatures() = default;

osg::Object* pluginFeatures::cloneType() const
{
    return new pluginFeatures();
}

osg::Object* pluginFeatures::clone(const osg::CopyOp& /*copyop*/) const
{
    return new pluginFeatures();
}

bool pluginFeatures::isSameKindAs(const osg::Object* object) const
{
    return dynamic_cast<const pluginFeatures*>(object) != nullptr;
}

const char* pluginFeatures::libraryName() const
{
    return "plugin";
}

const char* pluginFeatures::className() const
{
    return "pluginFeatures";
}

void pluginFeatures::setMapNode(MapNode* node)
{
    mapNode = node;
}

void pluginFeatures::setSceneChangeRunner(SceneChangeRunner runner)
{
    _runner = std::move(runner);
}

bool pluginFeatures::createlayer(std::string name, std::string style)
{
    // Held for the whole call: the map node may otherwise die between building the layer and adding it.
    osg::ref_ptr<MapNode> node;
    if (!mapNode.lock(node))
        return false;

    osg::ref_ptr<ModelLayer> layer = makeFeatureLayer(name, style);
    Map* map = node->getMap();
    // The old layer leaves and the new one joins in one change; adding builds the new layer's graph.
    runSceneChange(_runner, [&] {
        if (osg::ref_ptr<ModelLayer> old = map->getModelLayerByName(name))
            map->removeModelLayer(old.get());
        map->addModelLayer(layer.get());
    });
    return true;
}

bool pluginFeatures::removelayer(std::string name)
{
    osg::ref_ptr<MapNode> node;
    if (!mapNode.lock(node))
        return false;
    osg::ref_ptr<ModelLayer> layer = node->getMap()->getModelLayerByName(name);
    if (!layer.valid())
        return false;
    runSceneChange(_runner, [&] { node->getMap()->removeModelLayer(layer.get()); });
    return true;
}

bool pluginFeatures::showlayer(std::string name, bool visible)
{
    osg::ref_ptr<MapNode> node;
    if (!mapNode.lock(node))
        return false;
    osg::ref_ptr<ModelLayer> layer = node->getMap()->getModelLayerByName(name);
    if (!layer.valid())
        return false;
    runSceneChange(_runner, [&] { layer->setVisible(visible); });
    return true;
}

bool pluginFeatures::hidelayer(std::string name)
{
    showlayer(std::move(name), false);
    return true;
}

bool pluginFeatures::addfeatures(std::string name, std::string features)
{
    osg::ref_ptr<MapNode> node;
    if (!mapNode.lock(node))
        return false;
    osg::ref_ptr<ModelLayer> layer = node->getMap()->getModelLayerByName(name);
    osg::ref_ptr<FeatureModelGraph> graph = layer.valid() ? graphOf(*node, layer.get()) : nullptr;
    if (!graph.valid())
        return false;

    // Parsing and compiling may take long for a large text; the scene is not held meanwhile. The graph hands over
    // a node without a reference, taken here at once.
    osg::ref_ptr<osg::Node> compiled = graph->load(0, 0, 0, kPushedTileURI, features);
    if (!compiled.valid())
        return false;

    bool attached = false;
    runSceneChange(_runner, [&] {
        // The layer may have left the map, or been rebuilt, while the text was compiled; features compiled for
        // it then go nowhere rather than into a graph nobody draws.
        if (graphOf(*node, layer.get()) == graph.get())
            attached = graph->addChild(compiled.get());
    });
    return attached;
}

bool pluginFeatures::removefeature(std::string name, std::string featureId)
{
    osg::ref_ptr<MapNode> node;
    if (!mapNode.lock(node))
        return false;
    osg::ref_ptr<ModelLayer> layer = node->getMap()->getModelLayerByName(name);
    if (!layer.valid())
        return false;
    osg::ref_ptr<FeatureModelGraph> graph = graphOf(*node, layer.get());
    if (!graph.valid())
        return true;

    // strtol reads what atol reads, but an id past a long's range saturates instead of being undefined.
    findFeatureModelVistor finder(std::strtol(featureId.c_str(), nullptr, 10));
    runSceneChange(_runner, [&] {
        graph->accept(finder);
        for (const osg::ref_ptr<osg::Node>& found : finder.foundNodes)
        {
            // A copy of the list: each removal shrinks the node's own parent list.
            const osg::Node::ParentList parents = found->getParents();
            for (osg::Group* parent : parents)
                parent->removeChild(found.get());
        }
    });
    return true;
}
