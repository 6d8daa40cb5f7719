#include <osgEarth/TerrainEngineNode>

#include <osgEarth/Map>

namespace osgEarth {

TerrainEngineNode::TerrainEngineNode() = default;

TerrainEngineNode::TerrainEngineNode(const TerrainEngineNode& rhs, const osg::CopyOp& copyop)
    : osg::CoordinateSystemNode(rhs, copyop), _map(rhs._map)
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
    // Tiles come with the terrain engine proper; the tile hierarchy's root will be added here, under this node,
    // where the system looks for the terrain's paged tiles.
}

} // namespace osgEarth
