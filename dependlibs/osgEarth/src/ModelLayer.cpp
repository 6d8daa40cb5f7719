#include <osgEarth/ModelLayer>

#include <osg/Depth>
#include <osg/Notify>
#include <osg/StateSet>

namespace osgEarth {

namespace {

unsigned maskFor(bool visible)
{
    return visible ? ~0u : 0u;
}

} // namespace

ModelLayerOptions::ModelLayerOptions(const ConfigOptions& options) : ConfigOptions(options)
{
    _conf.key() = "model";
    fromConfig(_conf);
}

ModelLayerOptions::ModelLayerOptions(const std::string& name, const ModelSourceOptions& driver)
{
    _conf.key() = "model";
    _name = name;
    _driver = driver;
}

void ModelLayerOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("name", _name);
    conf.getIfSet("enabled", _enabled);
    conf.getIfSet("visible", _visible);
    conf.getIfSet("lighting", _lighting);
    conf.getIfSet("opacity", _opacity);
    if (conf.hasValue("driver"))
    {
        _driver = ModelSourceOptions(conf);
    }
}

Config ModelLayerOptions::getConfig() const
{
    Config conf = ConfigOptions::getConfig();
    // The driver's keys first, so the layer's own (possibly changed since) win.
    if (_driver.isSet())
    {
        conf.merge(_driver->getConfig());
        conf.key() = "model";
    }
    conf.setIfSet("name", _name);
    conf.setIfSet("enabled", _enabled);
    conf.setIfSet("visible", _visible);
    conf.setIfSet("lighting", _lighting);
    conf.setIfSet("opacity", _opacity);
    return conf;
}

void ModelLayerOptions::mergeConfig(const Config& conf)
{
    ConfigOptions::mergeConfig(conf);
    fromConfig(_conf);
}

ModelLayer::ModelLayer(const ModelLayerOptions& options) : _options(options)
{
    if (_options.driver().isSet())
    {
        _source = ModelSourceFactory::create(_options.driver().get());
    }
    else
    {
        OSG_WARN << "[ModelLayer] layer \"" << getName() << "\" names no driver; it will show nothing" << std::endl;
    }
}

ModelLayer::ModelLayer(const std::string& name, const ModelSourceOptions& driver)
    : ModelLayer(ModelLayerOptions(name, driver))
{}

ModelLayer::ModelLayer(const std::string& name, osg::Node* node) : _options(name), _givenNode(node)
{}

ModelLayer::ModelLayer(const ModelLayerOptions& options, ModelSource* source) : _options(options), _source(source)
{
    // Options that name no driver of their own take the source's, so its drawing keys reach the layer node.
    if (source && (!_options.driver().isSet() || _options.driver()->getDriver().empty()))
    {
        _options.driver() = source->getOptions();
    }
}

ModelLayer::~ModelLayer() = default;

void ModelLayer::setVisible(bool visible)
{
    _options.visible() = visible;
    if (_graph.valid())
    {
        _graph->setNodeMask(maskFor(visible));
    }
}

void ModelLayer::setOpacity(float opacity)
{
    _options.opacity() = opacity;
}

osg::Group* ModelLayer::getOrCreateSceneGraph(const Map* map, const osgDB::Options* dbOptions)
{
    if (_graph.valid() || !getEnabled())
    {
        return _graph.get();
    }
    osg::ref_ptr<osg::Node> content = _givenNode;
    if (!content.valid() && _source.valid())
    {
        content = _source->createNode(map, dbOptions);
        if (!content.valid())
        {
            OSG_WARN << "[ModelLayer] the source of layer \"" << getName() << "\" built no node" << std::endl;
        }
    }
    if (!content.valid())
    {
        return nullptr;
    }
    // A fresh wrapper, so the layer's state and mask never touch a node the source or caller may share.
    _graph = new osg::Group();
    _graph->setName(getName());
    _graph->addChild(content.get());
    applyDrawingOptions(*_graph);
    return _graph.get();
}

void ModelLayer::releaseSceneGraph()
{
    _graph = nullptr;
}

void ModelLayer::applyDrawingOptions(osg::Group& graph) const
{
    graph.setNodeMask(maskFor(getVisible()));
    // Only what the layer's author set reaches the state set; the rest inherits from the map.
    if (_options.lightingEnabled().isSet())
    {
        graph.getOrCreateStateSet()->setMode(GL_LIGHTING, _options.lightingEnabled().get() ? osg::StateAttribute::ON
                                                                                            : osg::StateAttribute::OFF);
    }
    if (!_options.driver().isSet())
    {
        return;
    }
    const ModelSourceOptions& drawing = _options.driver().get();
    if (drawing.renderOrder().isSet())
    {
        graph.getOrCreateStateSet()->setRenderBinDetails(drawing.renderOrder().get(), "RenderBin");
    }
    if (drawing.depthTestEnabled().isSet())
    {
        graph.getOrCreateStateSet()->setMode(GL_DEPTH_TEST, drawing.depthTestEnabled().get()
                                                                ? osg::StateAttribute::ON
                                                                : osg::StateAttribute::OFF);
    }
}

} // namespace osgEarth
