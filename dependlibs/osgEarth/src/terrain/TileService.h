#pragma once

#include "HttpCache.h"
#include "TileDecoder.h"

#include <osgEarth/GeoData>
#include <osgEarth/Profile>
#include <osgEarth/TerrainLayerOptions>

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace osgEarth::Terrain {

/// A remote pyramid of tiles on its own profile (an "xyz" template or a TMS tile map): fetches tiles through the
/// file cache, decodes them and keeps the recent ones in memory. Called from the pager threads; the memory cache
/// has its own lock and fetches run outside it.
class TileService : public osg::Referenced
{
public:
    enum class Content
    {
        Imagery,
        Elevation
    };

    /// The URL of a tile: level, column from the west, row as the service counts it.
    using UrlBuilder = std::function<std::string(unsigned z, unsigned x, unsigned row)>;

    struct Settings
    {
        std::string layerName;               ///< for messages
        osg::ref_ptr<const Profile> profile; ///< the service's tiling
        GeoExtent dataExtent;                ///< where tiles exist (profile SRS); invalid: the whole profile
        unsigned minLevel = 0;
        unsigned maxLevel = 19;
        unsigned tileSize = 256;    ///< nominal pixels per tile side, for matching resolutions
        bool rowsFromSouth = false; ///< the service counts rows from the south edge (TMS)
        std::string format;         ///< extension hint for decoding
        Content content = Content::Imagery;
        UrlBuilder url;
        osg::ref_ptr<const HttpCache> cache; ///< may be null
        CacheUsage cacheUsage = CacheUsage::ReadWrite;
    };

    explicit TileService(Settings settings);

    const Settings& settings() const { return _settings; }
    const Profile* profile() const { return _settings.profile.get(); }

    /// The coarsest level whose pixels are at least as fine as `unitsPerPixel` (profile SRS units), clamped to the
    /// service's levels.
    unsigned levelFor(double unitsPerPixel) const;

    /// The decoded tile at level `z`, column `x`, row `y` counted from the north (TileKey order); null when the
    /// service has none there or it cannot be fetched or decoded. The first failure of the layer warns; later
    /// ones only log at info level.
    osg::ref_ptr<const DecodedTile> tile(unsigned z, unsigned x, unsigned y);

protected:
    ~TileService() override = default;

private:
    using Key = std::tuple<unsigned, unsigned, unsigned>;
    struct Entry
    {
        osg::ref_ptr<const DecodedTile> tile; // null: known to be missing
        std::list<Key>::iterator age;
    };

    // `remember` says whether the outcome may be kept (not when the server was merely unreachable).
    osg::ref_ptr<const DecodedTile> fetchAndDecode(unsigned z, unsigned x, unsigned y, bool& remember);
    void reportFailure(const std::string& url, const std::string& why);
    bool offline() const;

    Settings _settings;

    std::mutex _mutex; // guards _entries and _ages
    std::map<Key, Entry> _entries;
    std::list<Key> _ages; // most recently used first

    std::atomic<bool> _warned{false};
    // After the server cannot be reached at all, tiles skip the network for a while rather than each waiting
    // for its own connection to fail.
    std::atomic<std::chrono::steady_clock::rep> _offlineUntil{0};
};

/// What every network layer's service takes from the layer and the map: its name, `format` override, level cap
/// (`max_data_level`), the map's file cache and the cache usage; the driver fills in the rest.
TileService::Settings tileServiceSettings(const TerrainLayerOptions& layer, const Config& mapOptions,
                                          TileService::Content content);

} // namespace osgEarth::Terrain
