#include "TerrainContext.h"

#include "HtmlColour.h"

#include <osg/Notify>
#include <osg/PagedLOD>
#include <osg/observer_ptr>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <map>
#include <mutex>

namespace osgEarth::Terrain {

const char* const pagedTileExtension = "osgearth_engine_mp_tile";

namespace {

// Finer levels than this add nothing a local raster can show and would let the pager chase ever smaller tiles.
constexpr unsigned maxLodCap = 19;

// first_lod and min_lod make every tile of the globe reach their level whatever the distance: 2 × 4^5 = 2048 tiles
// at level 5 is as many as a globe should build up front or keep loaded.
constexpr unsigned maxForcedLod = 5;

std::mutex registryMutex;
std::map<unsigned, osg::observer_ptr<TerrainContext>>& registry()
{
    static std::map<unsigned, osg::observer_ptr<TerrainContext>> contexts;
    return contexts;
}

std::atomic<unsigned> nextUid{1};

} // namespace

unsigned terrainMaxLod(const Config& terrainOptions)
{
    const unsigned requested = terrainOptions.value<unsigned>("max_lod", terrainOptions.value<unsigned>("max_level", 23u));
    return std::clamp(requested, 1u, maxLodCap);
}

double terrainVerticalScale(const Config& terrainOptions)
{
    const double scale = terrainOptions.value<double>("vertical_scale", 1.0);
    return std::isfinite(scale) ? scale : 1.0;
}

TerrainContext::TerrainContext(const Map& map)
    : _uid(nextUid++), _profile(map.getProfile()), _geocentric(map.isGeocentric())
{
    readTerrainOptions(map);
    const Config mapOptions = map.getMapOptions().getConfig();
    for (const ImageLayerOptions& layer : map.getImageLayers())
    {
        if (!layer.visible().get())
        {
            continue;
        }
        if (osg::ref_ptr<ImageSource> source = createImageSource(layer, _profile.get(), mapOptions))
        {
            _images.push_back({source, std::clamp(layer.opacity().get(), 0.0f, 1.0f), layer.minLevel().get(),
                               layer.maxLevel().get()});
        }
    }
    _elevations = openElevationLayers(map);

    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[_uid] = this;
}

void TerrainContext::readTerrainOptions(const Map& map)
{
    const Config& terrain = map.getMapOptions().terrainOptions();
    // Levels accept both spellings in use: min_lod/min_level, first_lod/first_level, max_lod/max_level.
    const auto level = [&terrain](const char* name, const char* alias, unsigned fallback) {
        return terrain.value<unsigned>(name, terrain.value<unsigned>(alias, fallback));
    };
    _posts = std::clamp(terrain.value<unsigned>("tile_size", 17u), 2u, 257u);
    _rangeFactor = terrain.value<double>("min_tile_range_factor", 6.0);
    if (!(_rangeFactor > 0.0) || !std::isfinite(_rangeFactor))
    {
        _rangeFactor = 6.0;
    }
    _maxLod = terrainMaxLod(terrain);
    // The first tiles shown are level 1 at the least: the root groups them per level-0 key.
    _firstLod = std::clamp(level("first_lod", "first_level", 0u), 1u, _maxLod);
    _minLod = std::min(level("min_lod", "min_level", 0u), _maxLod);
    if (_firstLod > maxForcedLod || _minLod > maxForcedLod)
    {
        OSG_WARN << "Globe terrain: first_lod and min_lod above " << maxForcedLod
                 << " would build every tile of the globe down to that level; using " << maxForcedLod << std::endl;
        _firstLod = std::min(_firstLod, maxForcedLod);
        _minLod = std::min(_minLod, maxForcedLod);
    }
    _imageSize = std::clamp(terrain.value<unsigned>("tile_pixel_size", 256u), 16u, 1024u);
    _verticalScale = terrainVerticalScale(terrain);
    _colour = parseHtmlColour(terrain.value("color"), osg::Vec4ub(255, 255, 255, 255));
    _lighting = terrain.value<bool>("lighting", map.getMapOptions().enableLighting().get());
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
        osg::ref_ptr<osg::Group> group = new osg::Group();
        addTilesAtFirstLod(key, *group);
        root->addChild(group.get(), 0.0f, FLT_MAX);
    }
    return root;
}

void TerrainContext::addTilesAtFirstLod(const TileKey& key, osg::Group& group) const
{
    for (unsigned q = 0; q < 4; ++q)
    {
        const TileKey child = key.createChildKey(q);
        if (!child.isValid())
        {
            continue;
        }
        if (child.getLOD() < _firstLod)
        {
            addTilesAtFirstLod(child, group);
        }
        else
        {
            group.addChild(buildPagedTile(child).get());
        }
    }
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
    // Below min_lod a tile never shows itself: its children are wanted from any distance.
    const float minRange = key.getLOD() < _minLod ? FLT_MAX : float(halfDiagonal * _rangeFactor);
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
