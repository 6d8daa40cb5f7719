// The "xyz" driver: tiles addressed by a URL template, on a profile the layer must name.
#include "TerrainSources.h"
#include "TileServiceSources.h"

#include "../ProfileConfig.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>

namespace osgEarth::Terrain {

namespace {

std::string layerName(const TerrainLayerOptions& layer)
{
    return layer.name().get();
}

void replaceAll(std::string& text, const std::string& pattern, const std::string& with)
{
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + with.size()))
    {
        text.replace(at, pattern.size(), with);
    }
}

// The extension of the URL's path, ignoring a query string.
std::string extensionOf(const std::string& url)
{
    return osgDB::getLowerCaseFileExtension(url.substr(0, url.find('?')));
}

std::string expandTileTemplate(const std::string& pattern, unsigned z, unsigned x, unsigned y)
{
    std::string url = pattern;
    for (const auto& [name, value] : {std::pair<const char*, unsigned>{"x", x}, {"y", y}, {"z", z}})
    {
        replaceAll(url, std::string("${") + name + "}", std::to_string(value));
        replaceAll(url, std::string("{") + name + "}", std::to_string(value));
    }
    // "[abc]" spreads tiles over several hosts; the choice follows the tile so that each one keeps one URL (and one
    // cache entry).
    const size_t open = url.find('[');
    const size_t close = open == std::string::npos ? std::string::npos : url.find(']', open);
    if (close != std::string::npos && close > open + 1)
    {
        const std::string choices = url.substr(open + 1, close - open - 1);
        url.replace(open, close - open + 1, 1, choices[(size_t(x) + y) % choices.size()]);
    }
    return url;
}

bool configureXyz(const TerrainLayerOptions& layer, const Config& mapOptions, TileService::Content content,
                  TileService::Settings& settings)
{
    const Config& conf = layer.getConfig();
    const std::string url = layer.resolvedURL();
    const char* kind = content == TileService::Content::Imagery ? "image" : "elevation";
    if (url.empty())
    {
        OSG_WARN << "Globe terrain: " << kind << " layer \"" << layerName(layer)
                 << "\" (driver \"xyz\") has no url; layer skipped" << std::endl;
        return false;
    }
    const Config* profileConf = conf.child_ptr("profile");
    osg::ref_ptr<const Profile> profile = profileConf ? profileFromConfig(*profileConf, "Globe terrain:") : nullptr;
    if (!profile)
    {
        OSG_WARN << "Globe terrain: " << kind << " layer \"" << layerName(layer)
                 << "\" (driver \"xyz\") needs a profile it can use, e.g. <profile>spherical-mercator</profile>; "
                    "layer skipped"
                 << std::endl;
        return false;
    }
    settings = tileServiceSettings(layer, mapOptions, content);
    settings.profile = profile;
    settings.rowsFromSouth = conf.value("invert_y", false);
    if (settings.format.empty())
    {
        settings.format = extensionOf(url);
    }
    settings.url = [url](unsigned z, unsigned x, unsigned row) { return expandTileTemplate(url, z, x, row); };
    return true;
}

} // namespace

osg::ref_ptr<ImageSource> createXyzImageSource(const ImageLayerOptions& layer, const Config& mapOptions)
{
    TileService::Settings settings;
    if (!configureXyz(layer, mapOptions, TileService::Content::Imagery, settings))
    {
        return nullptr;
    }
    return createTileServiceImageSource(new TileService(std::move(settings)));
}

osg::ref_ptr<ElevationSource> createXyzElevationSource(const ElevationLayerOptions& layer, const Config& mapOptions)
{
    TileService::Settings settings;
    if (!configureXyz(layer, mapOptions, TileService::Content::Elevation, settings))
    {
        return nullptr;
    }
    return createTileServiceElevationSource(new TileService(std::move(settings)));
}

} // namespace osgEarth::Terrain
