#include <osgEarth/MapNode>

#include "EarthFileReader.h"

#include <osg/NodeVisitor>

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
}

MapNode::~MapNode() = default;

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
