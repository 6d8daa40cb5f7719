#include "TerrainContext.h"

#include <osg/PagedLOD>
#include <osg/observer_ptr>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <map>
#include <mutex>

namespace osgEarth::Terrain {

const char* const pagedTileExtension = "osgearth_engine_mp_tile";

namespace {

// Finer levels than this add nothing a local raster can show and would let the pager chase ever smaller tiles.
constexpr unsigned maxLodCap = 19;

std::mutex registryMutex;
std::map<unsigned, osg::observer_ptr<TerrainContext>>& registry()
{
    static std::map<unsigned, osg::observer_ptr<TerrainContext>> contexts;
    return contexts;
}

std::atomic<unsigned> nextUid{1};

} // namespace

TerrainContext::TerrainContext(const Map& map)
    : _uid(nextUid++), _profile(map.getProfile()), _geocentric(map.isGeocentric())
{
    const Config& terrain = map.getMapOptions().terrainOptions();
    _posts = std::clamp(terrain.value<unsigned>("tile_size", 17u), 2u, 257u);
    _rangeFactor = terrain.value<double>("min_tile_range_factor", 6.0);
    if (!(_rangeFactor > 0.0))
    {
        _rangeFactor = 6.0;
    }
    _maxLod = std::clamp(terrain.value<unsigned>("max_lod", terrain.value<unsigned>("max_level", 23u)), 1u, maxLodCap);
    _imageSize = std::clamp(terrain.value<unsigned>("tile_pixel_size", 256u), 16u, 1024u);
    _lighting = terrain.value<bool>("lighting", map.getMapOptions().enableLighting().get());

    for (const ImageLayerOptions& layer : map.getImageLayers())
    {
        if (osg::ref_ptr<ImageSource> source =
                createImageSource(layer, _profile.get(), map.getMapOptions().getConfig()))
        {
            _images.emplace_back(source, std::clamp(layer.opacity().get(), 0.0f, 1.0f));
        }
    }
    for (const ElevationLayerOptions& layer : map.getElevationLayers())
    {
        if (osg::ref_ptr<ElevationSource> source =
                createElevationSource(layer, _profile.get(), map.getMapOptions().getConfig()))
        {
            _elevations.push_back(source);
        }
    }

    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[_uid] = this;
}

TerrainContext::~TerrainContext()
{
    std::lock_guard<std::mutex> lock(registryMutex);
    registry().erase(_uid);
}

osg::ref_ptr<TerrainContext> TerrainContext::find(unsigned uid)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto found = registry().find(uid);
    osg::ref_ptr<TerrainContext> context;
    if (found != registry().end())
    {
        found->second.lock(context);
    }
    return context;
}

osg::ref_ptr<osg::Node> TerrainContext::buildRoot() const
{
    osg::ref_ptr<osg::PagedLOD> root = new osg::PagedLOD();
    root->setRangeMode(osg::LOD::DISTANCE_FROM_EYE_POINT);
    std::vector<TileKey> keys;
    _profile->getRootKeys(keys);
    for (const TileKey& key : keys)
    {
        root->addChild(buildChildren(key).get(), 0.0f, FLT_MAX);
    }
    return root;
}

osg::ref_ptr<osg::Group> TerrainContext::buildChildren(const TileKey& parent) const
{
    osg::ref_ptr<osg::Group> group = new osg::Group();
    for (unsigned q = 0; q < 4; ++q)
    {
        const TileKey child = parent.createChildKey(q);
        if (child.isValid())
        {
            group->addChild(buildPagedTile(child).get());
        }
    }
    return group;
}

osg::ref_ptr<osg::Node> TerrainContext::buildPagedTile(const TileKey& key) const
{
    double halfDiagonal = 0.0;
    osg::ref_ptr<osg::MatrixTransform> tile = buildTileNode(key, halfDiagonal);
    if (key.getLOD() >= _maxLod)
    {
        return tile;
    }
    const float minRange = float(halfDiagonal * _rangeFactor);
    osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD();
    paged->setRangeMode(osg::LOD::DISTANCE_FROM_EYE_POINT);
    paged->addChild(tile.get(), minRange, FLT_MAX);
    paged->setFileName(1, key.str() + "." + std::to_string(_uid) + "." + pagedTileExtension);
    paged->setRange(1, 0.0f, minRange);
    const osg::BoundingSphere& bound = tile->getBound();
    paged->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    paged->setCenter(bound.center());
    paged->setRadius(bound.radius());
    return paged;
}

osg::Vec3d TerrainContext::toWorld(double x, double y, double height) const
{
    osg::Vec3d world(x, y, height);
    if (_geocentric)
    {
        _profile->getSRS()->transformToWorld(osg::Vec3d(x, y, height), world);
    }
    return world;
}

osg::Vec3d TerrainContext::upAt(const osg::Vec3d& world) const
{
    if (!_geocentric)
    {
        return osg::Vec3d(0, 0, 1);
    }
    const osg::EllipsoidModel* ellipsoid = _profile->getSRS()->getEllipsoid();
    if (!ellipsoid)
    {
        osg::Vec3d up = world;
        up.normalize();
        return up;
    }
    return ellipsoid->computeLocalUpVector(world.x(), world.y(), world.z());
}

} // namespace osgEarth::Terrain
