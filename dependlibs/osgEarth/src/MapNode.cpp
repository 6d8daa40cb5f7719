#include <osgEarth/MapNode>

#include "EarthFileReader.h"

#include <osg/NodeVisitor>
#include <osg/observer_ptr>

namespace osgEarth {

namespace {

const char* const kMapNodeName = "osgEarth::MapNode";
const char* const kModelLayerGroupName = "osgEarth::MapNode.modelsGroup";

// Stops at the first map node on its way, in either direction.
class MapNodeFinder : public osg::NodeVisitor
{
public:
    MapNodeFinder(TraversalMode mode, unsigned travMask) : osg::NodeVisitor(mode) { setTraversalMask(travMask); }

    void apply(osg::Node& node) override
    {
        if (found.valid())
        {
            return;
        }
        found = dynamic_cast<MapNode*>(&node);
        if (!found.valid())
        {
            traverse(node);
        }
    }

    osg::ref_ptr<MapNode> found;
};

} // namespace

// Holds the map node weakly: the map node owns the map, and the map owns this.
class MapNode::ModelLayerListener : public MapCallback
{
public:
    explicit ModelLayerListener(MapNode* mapNode) : _mapNode(mapNode) {}

    void onModelLayerAdded(ModelLayer* layer, unsigned /*index*/) override
    {
        osg::ref_ptr<MapNode> mapNode;
        if (_mapNode.lock(mapNode))
        {
            mapNode->addModelLayerNode(layer);
        }
    }

    void onModelLayerRemoved(ModelLayer* layer) override
    {
        osg::ref_ptr<MapNode> mapNode;
        if (_mapNode.lock(mapNode))
        {
            mapNode->removeModelLayerNode(layer);
        }
    }

private:
    osg::observer_ptr<MapNode> _mapNode;
};

MapNode::MapNode() : MapNode(nullptr)
{}

MapNode::MapNode(Map* map) : _map(map ? map : new Map())
{
    build();
}

MapNode::MapNode(const MapNode& rhs, const osg::CopyOp& copyop)
    : osg::Group(rhs, copyop), _map(rhs._map), _externalConfig(rhs._externalConfig)
{
    // The copied (or shared) children are the engine and model group; find them again by role.
    for (unsigned i = 0; i < getNumChildren(); ++i)
    {
        osg::Node* child = getChild(i);
        if (auto* engine = dynamic_cast<TerrainEngineNode*>(child))
        {
            _terrainEngine = engine;
        }
        else if (child->getName() == kModelLayerGroupName && child->asGroup())
        {
            _modelLayerGroup = child->asGroup();
        }
    }
    // A deep copy holds copies of the layer nodes, which the layers know nothing of; start from the layers' own.
    if (_modelLayerGroup.valid())
    {
        _modelLayerGroup->removeChildren(0, _modelLayerGroup->getNumChildren());
        listenToMap();
    }
}

MapNode::~MapNode()
{
    _map->removeMapCallback(_listener.get());
}

void MapNode::build()
{
    // Referenced here so that linking the map node also links the earth-file reader's registration.
    detail::earthFileReaderLinked();

    setName(kMapNodeName);

    _terrainEngine = new TerrainEngineNode();
    _terrainEngine->setMap(_map.get());
    addChild(_terrainEngine.get());

    _modelLayerGroup = new osg::Group();
    _modelLayerGroup->setName(kModelLayerGroupName);
    addChild(_modelLayerGroup.get());

    listenToMap();
}

void MapNode::listenToMap()
{
    _listener = new ModelLayerListener(this);
    _map->addMapCallback(_listener.get());
    ModelLayerVector layers;
    _map->getModelLayers(layers);
    for (const auto& layer : layers)
    {
        addModelLayerNode(layer.get());
    }
}

void MapNode::addModelLayerNode(ModelLayer* layer)
{
    if (_modelLayerNodes.count(layer) != 0)
    {
        return;
    }
    osg::ref_ptr<osg::Group> node = layer->getOrCreateSceneGraph(_map.get());
    if (node.valid())
    {
        _modelLayerNodes[layer] = node;
        _modelLayerGroup->addChild(node.get());
    }
}

void MapNode::removeModelLayerNode(ModelLayer* layer)
{
    auto found = _modelLayerNodes.find(layer);
    if (found == _modelLayerNodes.end())
    {
        return;
    }
    _modelLayerGroup->removeChild(found->second.get());
    _modelLayerNodes.erase(found);
    // The layer may be added again later (or to another map); it builds afresh then.
    layer->releaseSceneGraph();
}

osg::Node* MapNode::getModelLayerNode(ModelLayer* layer) const
{
    auto found = _modelLayerNodes.find(layer);
    return found == _modelLayerNodes.end() ? nullptr : found->second.get();
}

const SpatialReference* MapNode::getMapSRS() const
{
    return _map->getProfile() ? _map->getProfile()->getSRS() : nullptr;
}

MapNode* MapNode::get(osg::Node* graph, unsigned travMask)
{
    if (!graph)
    {
        return nullptr;
    }
    // The caller named this node, so it counts whatever its mask.
    if (auto* self = dynamic_cast<MapNode*>(graph))
    {
        return self;
    }

    MapNodeFinder up(osg::NodeVisitor::TRAVERSE_PARENTS, travMask);
    graph->ascend(up);
    if (up.found.valid())
    {
        return up.found.get();
    }

    MapNodeFinder down(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN, travMask);
    graph->traverse(down);
    return down.found.get();
}

} // namespace osgEarth
