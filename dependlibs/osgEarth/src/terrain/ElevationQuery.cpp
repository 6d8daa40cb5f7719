#include "ElevationQuery.h"

#include "TerrainContext.h"

#include <osgEarth/TileKey>

#include <osg/Notify>

#include <algorithm>
#include <cmath>

namespace osgEarth::Terrain {

namespace {

// Metres per degree along the equator: good enough to pick a level on a geographic profile.
constexpr double metresPerDegree = 111320.0;

constexpr unsigned minPosts = 2;
constexpr unsigned maxPosts = 513;

} // namespace

std::vector<ElevationLayerSource> openElevationLayers(const Map& map)
{
    std::vector<ElevationLayerSource> layers;
    const Profile* profile = map.getProfile();
    if (!profile)
    {
        return layers;
    }
    const Config mapOptions = map.getMapOptions().getConfig();
    for (const ElevationLayerOptions& layer : map.getElevationLayers())
    {
        // The factory leaves out disabled layers and warns about the ones it cannot open.
        if (osg::ref_ptr<ElevationSource> source = createElevationSource(layer, profile, mapOptions))
        {
            layers.push_back({source, layer.minLevel().get(), layer.maxLevel().get(), layer.offset().get()});
        }
    }
    return layers;
}

osg::ref_ptr<ElevationQuery> ElevationQuery::create(const Map& map)
{
    if (map.getElevationLayers().empty() || !map.getProfile())
    {
        return nullptr;
    }
    std::vector<ElevationLayerSource> layers = openElevationLayers(map);
    if (layers.empty())
    {
        return nullptr;
    }
    const unsigned level = levelFor(map, layers);
    return new ElevationQuery(map.getProfile(), std::move(layers), level, terrainVerticalScale(map.getMapOptions().terrainOptions()));
}

unsigned ElevationQuery::levelFor(const Map& map, const std::vector<ElevationLayerSource>& layers, unsigned posts)
{
    unsigned finest = std::min(maxQueryLevel, terrainMaxLod(map.getMapOptions().terrainOptions()));
    unsigned layersFinest = 0;
    for (const ElevationLayerSource& layer : layers)
    {
        layersFinest = std::max(layersFinest, layer.maxLevel);
    }
    finest = std::min(finest, layersFinest);

    const Profile* profile = map.getProfile();
    if (!profile)
    {
        return finest;
    }
    const double unit = profile->getSRS()->isGeographic() ? metresPerDegree : 1.0;
    const unsigned intervals = std::clamp(posts, minPosts, maxPosts) - 1;
    for (unsigned lod = 0; lod < finest; ++lod)
    {
        double width = 0.0, height = 0.0;
        profile->getTileDimensions(lod, width, height);
        if (std::max(width, height) * unit / intervals <= targetPostSpacing)
        {
            return lod;
        }
    }
    return finest;
}

ElevationQuery::ElevationQuery(const Profile* profile, std::vector<ElevationLayerSource> layers, unsigned level,
                               double verticalScale, unsigned posts, std::size_t cacheTiles)
    : _profile(profile), _layers(std::move(layers)), _level(level),
      _verticalScale(std::isfinite(verticalScale) ? verticalScale : 1.0), _posts(std::clamp(posts, minPosts, maxPosts)),
      _cacheTiles(std::max<std::size_t>(cacheTiles, 1))
{
    if (_profile.valid())
    {
        _profile->getNumTiles(_level, _tilesWide, _tilesHigh);
        _profile->getTileDimensions(_level, _tileWidth, _tileHeight);
    }
    if (_tilesWide == 0 || _tilesHigh == 0 || !(_tileWidth > 0.0) || !(_tileHeight > 0.0))
    {
        OSG_WARN << "Globe terrain: elevation query at level " << _level << " has no usable tiles; heights stay 0"
                 << std::endl;
        _profile = nullptr;
    }
}

ElevationQuery::~ElevationQuery() = default;

double ElevationQuery::heightAt(double x, double y) const
{
    if (!_profile.valid() || !std::isfinite(x) || !std::isfinite(y))
    {
        return 0.0;
    }
    const GeoExtent& extent = _profile->getExtent();
    if (_profile->getSRS()->isGeographic() && (x < extent.west() || x > extent.east()))
    {
        // Bring the longitude into the turn of the globe that starts at the profile's west edge.
        x = extent.west() + std::fmod(std::fmod(x - extent.west(), 360.0) + 360.0, 360.0);
    }
    if (x < extent.west() || x > extent.east() || y < extent.south() || y > extent.north())
    {
        return 0.0;
    }

    // Tile coordinates counted from the north-west corner; points on the far edges belong to the last tile.
    const double fx = (x - extent.west()) / _tileWidth;
    const double fy = (extent.north() - y) / _tileHeight;
    const unsigned tileX = std::min(unsigned(fx), _tilesWide - 1);
    const unsigned tileY = std::min(unsigned(fy), _tilesHigh - 1);

    const GridFuture future = gridFor(tileX, tileY);
    const Grid& grid = future.get();

    // Post coordinates inside the tile, then the four posts of the cell around the point.
    const unsigned cells = _posts - 1;
    const double u = std::clamp((fx - tileX) * cells, 0.0, double(cells));
    const double v = std::clamp((fy - tileY) * cells, 0.0, double(cells));
    const unsigned col = std::min(unsigned(u), cells - 1);
    const unsigned row = std::min(unsigned(v), cells - 1);
    const double du = u - col, dv = v - row;
    const std::size_t i = std::size_t(row) * _posts + col;
    const double north = grid[i] * (1.0 - du) + grid[i + 1] * du;
    const double south = grid[i + _posts] * (1.0 - du) + grid[i + _posts + 1] * du;
    return north * (1.0 - dv) + south * dv;
}

ElevationQuery::GridFuture ElevationQuery::gridFor(unsigned tileX, unsigned tileY) const
{
    const std::uint64_t id = (std::uint64_t(tileY) << 32) | tileX;
    std::promise<Grid> promise;
    GridFuture future;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _index.find(id);
        if (found != _index.end())
        {
            if (found->second != _recent.begin()) // runs of points mostly stay on one tile
            {
                _recent.splice(_recent.begin(), _recent, found->second);
            }
            return found->second->grid;
        }
        // Publish the tile before sampling it, so other threads wanting it wait for this read instead of repeating it.
        future = promise.get_future().share();
        _recent.push_front({id, future});
        _index[id] = _recent.begin();
        while (_recent.size() > _cacheTiles)
        {
            _index.erase(_recent.back().id);
            _recent.pop_back();
        }
    }
    _tilesSampled.fetch_add(1, std::memory_order_relaxed);
    try
    {
        promise.set_value(sampleTile(tileX, tileY));
    }
    catch (...)
    {
        // Sources do not throw by contract; should one do so anyway, the tile reads as flat rather than failing
        // every query that touches it.
        OSG_WARN << "Globe terrain: sampling elevation tile " << _level << "/" << tileX << "/" << tileY
                 << " failed; it reads as height 0" << std::endl;
        promise.set_value(Grid(std::size_t(_posts) * _posts, 0.0f));
    }
    return future;
}

ElevationQuery::Grid ElevationQuery::sampleTile(unsigned tileX, unsigned tileY) const
{
    return combinedHeights(_layers, TileKey(_level, tileX, tileY, _profile.get()), _posts, _verticalScale);
}

std::vector<float> combinedHeights(const std::vector<ElevationLayerSource>& layers, const TileKey& key, unsigned posts,
                                   double verticalScale)
{
    const std::size_t count = std::size_t(posts) * posts;
    std::vector<float> heights(count, 0.0f);
    std::vector<float> layerHeights;
    std::vector<bool> valid;
    for (const ElevationLayerSource& layer : layers)
    {
        if (!layer.source.valid() || !layerShowsAt(key.getLOD(), layer.minLevel, layer.maxLevel) ||
            !layer.source->sampleHeights(key, posts, layerHeights, valid))
        {
            continue;
        }
        // Later layers win where they have data, or add to what lies below when they are offsets.
        const std::size_t n = std::min({count, layerHeights.size(), valid.size()});
        for (std::size_t i = 0; i < n; ++i)
        {
            if (valid[i])
            {
                heights[i] = layer.offset ? heights[i] + layerHeights[i] : layerHeights[i];
            }
        }
    }
    if (verticalScale != 1.0)
    {
        for (float& height : heights)
        {
            height = float(height * verticalScale);
        }
    }
    return heights;
}

} // namespace osgEarth::Terrain
