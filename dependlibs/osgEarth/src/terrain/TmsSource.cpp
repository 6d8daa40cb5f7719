// The "tms" driver: a TileMap whose metadata (tilemapresource.xml) describes its SRS, extent, tile format and
// levels; tiles live at <url>/<z>/<x>/<y>.<ext>, rows counted from the south unless tms_type="google".
#include "TerrainSources.h"
#include "TileServiceSources.h"

#include <osgEarth/StringUtils>

#include <osg/Notify>

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>

namespace osgEarth::Terrain {

namespace {

struct TileMap
{
    std::string srs;
    std::string profileName; // the TileSets' profile attribute: global-geodetic, global-mercator, local
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    unsigned tileWidth = 256;
    unsigned tileHeight = 256;
    std::string extension;
    unsigned minLevel = UINT_MAX;
    unsigned maxLevel = 0;
    double unitsPerPixelAtMinLevel = 0; // 0 when the TileSets do not say
};

std::string extensionForMime(const std::string& mime)
{
    const std::string type = toLower(mime);
    if (type == "image/png")
        return "png";
    if (type == "image/jpeg" || type == "image/jpg")
        return "jpg";
    if (type == "image/gif")
        return "gif";
    if (type == "image/tiff" || type == "image/geotiff")
        return "tif";
    return "";
}

bool parseTileMap(const std::string& xml, TileMap& map, std::string& error)
{
    Config document;
    std::istringstream in(xml);
    if (!document.fromXML(in, error))
    {
        return false;
    }
    const Config* root = document.child_ptr("tilemap");
    if (!root)
    {
        error = "the document is not a TileMap";
        return false;
    }
    map.srs = root->value("srs");
    const Config* box = root->child_ptr("boundingbox");
    if (map.srs.empty() || !box)
    {
        error = "the TileMap lacks its SRS or BoundingBox";
        return false;
    }
    map.minX = box->value("minx", 0.0);
    map.minY = box->value("miny", 0.0);
    map.maxX = box->value("maxx", 0.0);
    map.maxY = box->value("maxy", 0.0);
    if (!(map.maxX > map.minX) || !(map.maxY > map.minY))
    {
        error = "the TileMap's BoundingBox is empty";
        return false;
    }
    if (const Config* format = root->child_ptr("tileformat"))
    {
        map.tileWidth = std::clamp(format->value("width", 256u), 1u, 4096u);
        map.tileHeight = std::clamp(format->value("height", 256u), 1u, 4096u);
        map.extension = toLower(format->value("extension"));
        if (map.extension.empty())
        {
            map.extension = extensionForMime(format->value("mime-type"));
        }
    }
    if (const Config* sets = root->child_ptr("tilesets"))
    {
        map.profileName = toLower(sets->value("profile"));
        for (const Config& set : sets->children("tileset"))
        {
            const unsigned order = set.value("order", set.value("href", UINT_MAX));
            if (order == UINT_MAX)
            {
                continue;
            }
            if (order < map.minLevel)
            {
                map.minLevel = order;
                map.unitsPerPixelAtMinLevel = set.value("units-per-pixel", 0.0);
            }
            map.maxLevel = std::max(map.maxLevel, order);
        }
    }
    return true;
}

// Global profiles keep their usual level-0 tiling; any other comes from the extent and the coarsest TileSet's
// resolution (how many tiles of that size span the box at level 0).
osg::ref_ptr<const Profile> profileOf(const TileMap& map)
{
    if (map.profileName == "global-geodetic")
    {
        return Profile::create("global-geodetic");
    }
    if (map.profileName == "global-mercator")
    {
        return Profile::create("spherical-mercator");
    }
    unsigned wide = 1, high = 1;
    if (map.unitsPerPixelAtMinLevel > 0 && map.minLevel != UINT_MAX && map.minLevel < 30)
    {
        const double scale = std::ldexp(map.unitsPerPixelAtMinLevel, int(map.minLevel));
        wide = unsigned(std::clamp(std::lround((map.maxX - map.minX) / (scale * map.tileWidth)), 1L, 1024L));
        high = unsigned(std::clamp(std::lround((map.maxY - map.minY) / (scale * map.tileHeight)), 1L, 1024L));
    }
    return Profile::create(map.srs, map.minX, map.minY, map.maxX, map.maxY, wide, high);
}

bool configureTms(const TerrainLayerOptions& layer, const Config& mapOptions, TileService::Content content,
                  TileService::Settings& settings)
{
    const char* kind = content == TileService::Content::Imagery ? "image" : "elevation";
    const std::string label = std::string(kind) + " layer \"" + layer.name().get() + "\" (driver \"tms\")";
    std::string url = layer.resolvedURL();
    if (url.empty())
    {
        OSG_WARN << "Globe terrain: " << label << " has no url; layer skipped" << std::endl;
        return false;
    }
    settings = tileServiceSettings(layer, mapOptions, content);

    std::string metadataURL;
    if (endsWith(url, ".xml", false))
    {
        metadataURL = url;
        url = url.substr(0, url.find_last_of('/'));
    }
    else
    {
        while (!url.empty() && url.back() == '/')
        {
            url.pop_back();
        }
        metadataURL = url + "/tilemapresource.xml";
    }
    const HttpResponse response = cachedGet(metadataURL, settings.cache.get(), settings.cacheUsage);
    TileMap map;
    std::string error = response.error;
    if (!response.ok || !parseTileMap(response.body, map, error))
    {
        OSG_WARN << "Globe terrain: " << label << ": cannot use the TileMap metadata at " << metadataURL << " ("
                 << error << "); layer skipped" << std::endl;
        return false;
    }
    osg::ref_ptr<const Profile> profile = profileOf(map);
    if (!profile)
    {
        OSG_WARN << "Globe terrain: " << label << ": the TileMap's SRS \"" << map.srs
                 << "\" or extent is not usable; layer skipped" << std::endl;
        return false;
    }

    settings.profile = profile;
    settings.dataExtent = GeoExtent(profile->getSRS(), map.minX, map.minY, map.maxX, map.maxY);
    if (map.minLevel != UINT_MAX)
    {
        settings.minLevel = map.minLevel;
        settings.maxLevel = std::min(settings.maxLevel, map.maxLevel);
    }
    settings.tileSize = map.tileWidth;
    settings.rowsFromSouth = toLower(layer.getConfig().value("tms_type")) != "google";
    if (settings.format.empty())
    {
        settings.format = map.extension.empty() ? std::string(content == TileService::Content::Imagery ? "png" : "tif")
                                                : map.extension;
    }
    const std::string root = url;
    const std::string extension = settings.format;
    settings.url = [root, extension](unsigned z, unsigned x, unsigned row) {
        return root + "/" + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(row) + "." + extension;
    };
    return true;
}

} // namespace

osg::ref_ptr<ImageSource> createTmsImageSource(const ImageLayerOptions& layer, const Config& mapOptions)
{
    TileService::Settings settings;
    if (!configureTms(layer, mapOptions, TileService::Content::Imagery, settings))
    {
        return nullptr;
    }
    return createTileServiceImageSource(new TileService(std::move(settings)));
}

osg::ref_ptr<ElevationSource> createTmsElevationSource(const ElevationLayerOptions& layer, const Config& mapOptions)
{
    TileService::Settings settings;
    if (!configureTms(layer, mapOptions, TileService::Content::Elevation, settings))
    {
        return nullptr;
    }
    return createTileServiceElevationSource(new TileService(std::move(settings)));
}

} // namespace osgEarth::Terrain
