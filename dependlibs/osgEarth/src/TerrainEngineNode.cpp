#include <osgEarth/TerrainEngineNode>

#include <osgEarth/Map>

#include "terrain/TerrainContext.h"

namespace osgEarth {

TerrainEngineNode::TerrainEngineNode() = default;

TerrainEngineNode::TerrainEngineNode(const TerrainEngineNode& rhs, const osg::CopyOp& copyop)
    : osg::CoordinateSystemNode(rhs, copyop), _map(rhs._map), _tileContext(rhs._tileContext), _engineUID(rhs._engineUID)
{}

TerrainEngineNode::~TerrainEngineNode() = default;

void TerrainEngineNode::setMap(const Map* map)
{
    _map = map;
    const SpatialReference* srs = map ? map->getSRS() : nullptr;
    if (!srs)
    {
        setFormat("");
        setCoordinateSystem("");
        setEllipsoidModel(nullptr);
        buildTerrain();
        return;
    }

    // The earth manipulator reads these three fields to decide between globe and flat navigation, so they follow
    // the map exactly: the SRS's own init text, and an ellipsoid only on a round earth.
    setFormat("INIT");
    setCoordinateSystem(srs->getHorizInitString());
    if (map->isGeocentric())
    {
        const osg::EllipsoidModel* datum = srs->getEllipsoid();
        setEllipsoidModel(datum ? new osg::EllipsoidModel(datum->getRadiusEquator(), datum->getRadiusPolar())
                                : new osg::EllipsoidModel());
    }
    else
    {
        setEllipsoidModel(nullptr);
    }
    buildTerrain();
}

void TerrainEngineNode::buildTerrain()
{
    // A new map replaces every tile; requests still queued for the old tiles find their context gone.
    removeChildren(0, getNumChildren());
    _tileContext = nullptr;
    _engineUID = 0;
    const Map* map = _map.get();
    if (!map || !map->getProfile())
    {
        return;
    }
    osg::ref_ptr<Terrain::TerrainContext> context = new Terrain::TerrainContext(*map);
    _tileContext = context;
    _engineUID = context->uid();
    addChild(context->buildRoot().get());
}

} // namespace osgEarth
