#include <osgEarthFeatures/FeatureModelGraph>

#include "../GeoJSONReader.h"

#include <osg/Notify>
#include <osg/observer_ptr>

#include <atomic>
#include <map>
#include <mutex>

namespace osgEarth::Features {

namespace {

struct GraphRegistry
{
    std::mutex mutex; // guards graphs: graphs register on the building thread and are found on the pager's
    std::map<unsigned, osg::observer_ptr<FeatureModelGraph>> graphs;
    std::atomic<unsigned> next{1};
};

GraphRegistry& registry()
{
    static GraphRegistry instance;
    return instance;
}

// The style named after the feature source wins, so one sheet can serve several layers; then the sheet's default.
Symbology::Style selectStyle(const Symbology::StyleSheet* sheet, const FeatureSource* source)
{
    if (!sheet)
    {
        return Symbology::Style();
    }
    if (source)
    {
        if (const Symbology::Style* named = sheet->getStyle(source->getName(), false))
        {
            return *named;
        }
    }
    const Symbology::Style* fallback = sheet->getDefaultStyle();
    return fallback ? *fallback : Symbology::Style();
}

} // namespace

FeatureModelGraph::FeatureModelGraph(Session* session, const FeatureModelSourceOptions& options,
                                     FeatureNodeFactory* factory, RefNodeOperationVector* preMerge,
                                     RefNodeOperationVector* postMerge)
    : _uid(registry().next++), _session(session), _options(options), _factory(factory), _preMerge(preMerge),
      _postMerge(postMerge)
{
    {
        GraphRegistry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.graphs[_uid] = this;
    }
    if (!_session.valid())
    {
        _session = new Session(nullptr, _options.styles().get(), _options.featureSource().get());
    }
    if (!_factory.valid())
    {
        _factory = new GeomFeatureNodeFactory(_options.maxGranularity().get());
    }
    Symbology::StyleSheet* sheet = _session->styles() ? _session->styles() : _options.styles().get();
    FeatureSource* source = _session->getFeatureSource();
    _style = selectStyle(sheet, source);

    const FeatureProfile* profile = source && source->initialize(_session->getDBOptions())
                                        ? source->getFeatureProfile()
                                        : nullptr;
    osg::ref_ptr<osg::Node> content;
    if (!profile)
    {
        OSG_WARN << "[FeatureModelGraph] the layer has no usable feature source; its graph stays empty" << std::endl;
        content = new osg::Group();
    }
    else if (!profile->getTiled() && !_options.layout().isSet())
    {
        FeatureList features;
        source->getFeatures(features);
        content = buildTileGroup(features);
    }
    else
    {
        OSG_INFO << "[FeatureModelGraph] tiled feature layers are not paged; graph " << _uid
                 << " starts empty" << std::endl;
        content = new osg::Group();
    }
    if (content.valid())
    {
        runOperations(_preMerge.get(), content.get());
        addChild(content.get());
        runOperations(_postMerge.get(), content.get());
    }
}

FeatureModelGraph::~FeatureModelGraph()
{
    GraphRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.graphs.erase(_uid);
}

osg::ref_ptr<FeatureModelGraph> FeatureModelGraph::findByUID(unsigned uid)
{
    GraphRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto found = reg.graphs.find(uid);
    osg::ref_ptr<FeatureModelGraph> graph;
    if (found != reg.graphs.end())
    {
        found->second.lock(graph);
    }
    return graph;
}

std::string FeatureModelGraph::pseudoURI(unsigned lod, unsigned tileX, unsigned tileY) const
{
    return std::to_string(_uid) + "." + std::to_string(lod) + "_" + std::to_string(tileX) + "_" +
           std::to_string(tileY) + ".osgearth_pseudo_fmg";
}

void FeatureModelGraph::runOperations(RefNodeOperationVector* operations, osg::Node* node) const
{
    if (!operations)
    {
        return;
    }
    for (const osg::ref_ptr<NodeOperation>& operation : operations->operations)
    {
        if (operation.valid())
        {
            (*operation)(node);
        }
    }
}

osg::ref_ptr<osg::Group> FeatureModelGraph::buildTileGroup(const FeatureList& features) const
{
    const bool index = _options.indexingOn();
    osg::ref_ptr<osg::Group> group;
    osg::ref_ptr<FeatureSourceIndexNode> indexNode;
    if (index)
    {
        indexNode = new FeatureSourceIndexNode(_options.featureIndexing().get());
        group = indexNode;
    }
    else
    {
        group = new osg::Group();
    }
    if (osg::ref_ptr<osg::Node> compiled = _factory->createNode(features, _style, *_session, index))
    {
        group->addChild(compiled.get());
    }
    if (indexNode.valid())
    {
        indexNode->embedFeatures(features);
        indexNode->reindex();
    }
    return group;
}

osg::Node* FeatureModelGraph::load(unsigned lod, unsigned tileX, unsigned tileY, const std::string& uri,
                                   const std::string& featureText)
{
    FeatureList features;
    std::string error;
    if (!readGeoJSON(featureText, features, error))
    {
        OSG_WARN << "[FeatureModelGraph] tile " << lod << "/" << tileX << "/" << tileY << " (" << uri
                 << "): " << error << std::endl;
        return nullptr;
    }
    if (_options.indexingOn())
    {
        return buildTileGroup(features).release();
    }
    osg::ref_ptr<osg::Node> compiled = _factory->createNode(features, _style, *_session, false);
    return compiled.valid() ? compiled.release() : new osg::Group();
}

} // namespace osgEarth::Features
