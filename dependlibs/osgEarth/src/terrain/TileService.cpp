#include "TileService.h"

#include <osgEarth/StringUtils>

#include <osg/Notify>

#include <algorithm>
#include <cmath>

namespace osgEarth::Terrain {

namespace {

// About 16 MB of decoded imagery: enough for the neighbours a pager thread asks for next.
constexpr size_t memoryCacheTiles = 64;

constexpr std::chrono::seconds offlinePause(20);

// Deeper than any level the terrain asks for (its own cap is 19 on a geodetic profile, 20 in mercator terms).
constexpr unsigned deepestServiceLevel = 22;

} // namespace

TileService::TileService(Settings settings) : _settings(std::move(settings))
{
    _settings.maxLevel = std::max(_settings.maxLevel, _settings.minLevel);
    _settings.tileSize = std::max(1u, _settings.tileSize);
}

unsigned TileService::levelFor(double unitsPerPixel) const
{
    if (!(unitsPerPixel > 0.0) || !std::isfinite(unitsPerPixel))
    {
        return _settings.minLevel;
    }
    for (unsigned z = _settings.minLevel; z < _settings.maxLevel; ++z)
    {
        double width = 0, height = 0;
        profile()->getTileDimensions(z, width, height);
        // A hair of tolerance so that exactly matching levels are not skipped by rounding.
        if (width / _settings.tileSize <= unitsPerPixel * 1.0001)
        {
            return z;
        }
    }
    return _settings.maxLevel;
}

osg::ref_ptr<const DecodedTile> TileService::tile(unsigned z, unsigned x, unsigned y)
{
    const Key key{z, x, y};
    {
        std::lock_guard<std::mutex> lock(_mutex);
        auto found = _entries.find(key);
        if (found != _entries.end())
        {
            _ages.splice(_ages.begin(), _ages, found->second.age);
            return found->second.tile;
        }
    }

    bool remember = true;
    osg::ref_ptr<const DecodedTile> decoded = fetchAndDecode(z, x, y, remember);

    std::lock_guard<std::mutex> lock(_mutex);
    if (remember && _entries.count(key) == 0)
    {
        _ages.push_front(key);
        _entries[key] = Entry{decoded, _ages.begin()};
        while (_ages.size() > memoryCacheTiles)
        {
            _entries.erase(_ages.back());
            _ages.pop_back();
        }
    }
    return decoded;
}

bool TileService::offline() const
{
    return std::chrono::steady_clock::now().time_since_epoch().count() < _offlineUntil.load();
}

osg::ref_ptr<const DecodedTile> TileService::fetchAndDecode(unsigned z, unsigned x, unsigned y, bool& remember)
{
    unsigned wide = 0, high = 0;
    profile()->getNumTiles(z, wide, high);
    if (x >= wide || y >= high)
    {
        return nullptr;
    }
    const unsigned row = _settings.rowsFromSouth ? high - 1 - y : y;
    const std::string url = _settings.url(z, x, row);

    // With the server unreachable, the cache still answers; the network is skipped for a while.
    const CacheUsage usage =
        offline() && _settings.cacheUsage == CacheUsage::ReadWrite ? CacheUsage::CacheOnly : _settings.cacheUsage;
    HttpResponse response = cachedGet(url, _settings.cache.get(), usage);
    if (!response.ok)
    {
        remember = response.status != 0;
        if (response.status == 0 && usage != CacheUsage::CacheOnly)
        {
            _offlineUntil = (std::chrono::steady_clock::now() + offlinePause).time_since_epoch().count();
        }
        reportFailure(url, response.error);
        return nullptr;
    }
    std::string error;
    osg::ref_ptr<DecodedTile> decoded = _settings.content == Content::Elevation
                                            ? decodeElevationTile(response.body, error)
                                            : decodeImageTile(response.body, _settings.format, error);
    if (!decoded)
    {
        reportFailure(url, error);
    }
    return decoded;
}

TileService::Settings tileServiceSettings(const TerrainLayerOptions& layer, const Config& mapOptions,
                                          TileService::Content content)
{
    TileService::Settings settings;
    settings.layerName = layer.name().get();
    settings.content = content;
    settings.format = toLower(layer.getConfig().value("format"));
    settings.maxLevel = std::min(layer.maxDataLevel().get(), deepestServiceLevel);
    settings.cache = HttpCache::fromMapOptions(mapOptions);
    settings.cacheUsage = cacheUsageFor(layer.getConfig(), mapOptions);
    return settings;
}

void TileService::reportFailure(const std::string& url, const std::string& why)
{
    if (!_warned.exchange(true))
    {
        OSG_WARN << "[TileService] layer \"" << _settings.layerName << "\": " << url << ": " << why
                 << "; tiles it cannot get stay empty (further failures are logged at info level)" << std::endl;
    }
    else
    {
        OSG_INFO << "[TileService] layer \"" << _settings.layerName << "\": " << url << ": " << why << std::endl;
    }
}

} // namespace osgEarth::Terrain
