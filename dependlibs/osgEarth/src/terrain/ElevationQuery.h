#pragma once

#include "TerrainSources.h"

#include <VeltraGlobe/VeltraGlobeExport.h>

#include <osgEarth/Map>
#include <osgEarth/Profile>

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace osgEarth::Terrain {

/// One opened elevation layer with the rules the terrain combines it by.
struct ElevationLayerSource
{
    osg::ref_ptr<ElevationSource> source;
    unsigned minLevel = 0;
    unsigned maxLevel = 23;
    bool offset = false; // adds to the heights below instead of replacing them
};

/// Opens the map's elevation layers, bottom first, through the same factory and with the same rules as the terrain
/// engine: disabled layers and layers whose source cannot be opened (one warning each, from the factory) are left
/// out. The terrain engine builds its list with this too.
OSGEARTH_EXPORT std::vector<ElevationLayerSource> openElevationLayers(const Map& map);

/// Does a tile of level `lod` take its imagery or heights from a layer limited to [minLevel, maxLevel]?
inline bool layerShowsAt(unsigned lod, unsigned minLevel, unsigned maxLevel)
{
    return lod >= minLevel && lod <= maxLevel;
}

/// The heights (metres) of the key's posts × posts posts, row 0 along the north edge, from `layers` (bottom first):
/// 0 to start with; each layer shown at the key's level then replaces the heights where it has data, or adds to them
/// when it is an offset layer; finally all are multiplied by `verticalScale`. This is how terrain tiles get their
/// heights, so anything that must agree with the drawn surface computes them here.
OSGEARTH_EXPORT std::vector<float> combinedHeights(const std::vector<ElevationLayerSource>& layers, const TileKey& key,
                                                   unsigned posts, double verticalScale = 1.0);

/// Terrain heights at arbitrary points, for putting features on the ground. Heights come from whole tiles of one
/// fixed level (see level()), combined from the layers exactly as the terrain engine combines them for a tile of that
/// level (later layers replace where they have data, offset layers add, layers outside their level range are
/// skipped, the terrain's vertical_scale applies), then interpolated bilinearly between the tile's posts.
///
/// Sampled tiles are kept in a small least-recently-used cache, so clamping thousands of vertices costs a few tile
/// reads. Any thread may query at any time: the cache is guarded by a mutex that is never held while a tile is
/// sampled, so threads working on different tiles do not wait for each other; a thread asking for a tile that another
/// is sampling waits for that result instead of reading it a second time.
class OSGEARTH_EXPORT ElevationQuery : public osg::Referenced
{
public:
    /// Posts along each side of a sampled tile.
    static constexpr unsigned defaultPosts = 65;
    /// The spacing between posts the level is chosen for: the coarsest level whose posts lie at most this far apart
    /// (metres, taking a degree as 111.32 km on a geographic profile) unless the layers or the terrain stop sooner.
    static constexpr double targetPostSpacing = 40.0;
    /// Finer levels are never sampled, whatever the profile.
    static constexpr unsigned maxQueryLevel = 19;
    /// Tiles the cache keeps (65 × 65 floats each: about 1 MiB in all).
    static constexpr std::size_t defaultCacheTiles = 64;

    /// The query for a map's elevation layers; null when the map has none that can be opened (heights are then 0
    /// everywhere, and callers can skip asking).
    static osg::ref_ptr<ElevationQuery> create(const Map& map);

    /// A query over given layers (bottom first) at a given tile level of `profile`. `posts` is clamped to
    /// [2, 513], `cacheTiles` to at least 1; a non-finite vertical scale counts as 1.
    ElevationQuery(const Profile* profile, std::vector<ElevationLayerSource> layers, unsigned level,
                   double verticalScale = 1.0, unsigned posts = defaultPosts,
                   std::size_t cacheTiles = defaultCacheTiles);

    /// The terrain height in metres at (x, y) of the profile's SRS (longitude, latitude on a geographic map); 0
    /// where no layer has data or outside the profile. Longitudes of a geographic profile wrap around the globe.
    double heightAt(double x, double y) const;

    /// The level tiles are sampled at: the coarsest one meeting targetPostSpacing, but no finer than maxQueryLevel,
    /// the terrain's max_lod or the finest max_level among the layers. A layer whose min_level lies above it (one
    /// shown only close up) adds nothing to the heights.
    unsigned level() const { return _level; }
    unsigned postsPerSide() const { return _posts; }
    const Profile* profile() const { return _profile.get(); }
    /// Tiles sampled so far (cache misses), for gauging the cache.
    std::size_t tilesSampled() const { return _tilesSampled.load(std::memory_order_relaxed); }

    /// The level create() samples `map` at.
    static unsigned levelFor(const Map& map, const std::vector<ElevationLayerSource>& layers,
                             unsigned posts = defaultPosts);

protected:
    ~ElevationQuery() override;

private:
    using Grid = std::vector<float>; // posts × posts heights, row 0 along the north edge
    using GridFuture = std::shared_future<Grid>;
    struct CacheEntry
    {
        std::uint64_t id;
        GridFuture grid;
    };

    GridFuture gridFor(unsigned tileX, unsigned tileY) const;
    Grid sampleTile(unsigned tileX, unsigned tileY) const;

    osg::ref_ptr<const Profile> _profile;
    std::vector<ElevationLayerSource> _layers;
    unsigned _level;
    double _verticalScale;
    unsigned _posts;
    std::size_t _cacheTiles;
    unsigned _tilesWide = 1, _tilesHigh = 1;
    double _tileWidth = 1.0, _tileHeight = 1.0;

    mutable std::mutex _mutex;             // guards _recent and _index
    mutable std::list<CacheEntry> _recent; // most recently used first
    mutable std::unordered_map<std::uint64_t, std::list<CacheEntry>::iterator> _index;
    mutable std::atomic<std::size_t> _tilesSampled{0};
};

} // namespace osgEarth::Terrain
