#include "FeatureSourceDrivers.h"

#include "../../terrain/HttpCache.h"
#include "../GeoJSONReader.h"

#include <osgEarth/StringUtils>
#include <osgEarthDrivers/feature_tfs/TFSFeatureOptions>

#include <osg/Notify>

#include <cmath>
#include <sstream>

namespace osgEarth::Features {

namespace {

using Drivers::TFSFeatureOptions;

// Deeper levels would overflow the tile counts of the tiling profile.
constexpr int maxTfsLevel = 30;

bool readLevel(const Config& layer, const std::string& key, int fallback, int& level)
{
    level = fallback;
    if (!layer.hasValue(key))
    {
        return true;
    }
    const std::string text = trim(layer.value(key));
    if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 3)
    {
        return false;
    }
    level = std::stoi(text);
    return true;
}

bool readBound(const Config& box, const std::string& key, double& value)
{
    value = box.value<double>(key, NAN);
    return std::isfinite(value);
}

class TfsFeatureSource : public FeatureSource
{
public:
    explicit TfsFeatureSource(const FeatureSourceOptions& options) : FeatureSource(options), _tfs(options) {}

protected:
    osg::ref_ptr<FeatureProfile> createFeatureProfile(const osgDB::Options*) override
    {
        const std::string url = _tfs.url().isSet() ? trim(_tfs.url().get()) : std::string();
        if (url.empty())
        {
            // Layers are created with no URL and filled by the page later; an empty whole-world source keeps
            // their feature graph buildable.
            return new FeatureProfile(GeoExtent(SpatialReference::create("wgs84"), -180.0, -90.0, 180.0, 90.0));
        }
        const Config options = _tfs.getConfig();
        _cache = Terrain::HttpCache::fromMapOptions(Config());
        _usage = Terrain::cacheUsageFor(options, Config());
        const Terrain::HttpResponse response = Terrain::cachedGet(url, _cache.get(), _usage);
        if (!response.ok)
        {
            OSG_WARN << "[TFS] Metadata " << url << " unreadable: " << response.error << std::endl;
            return nullptr;
        }
        std::string error;
        osg::ref_ptr<FeatureProfile> profile = profileFromMetadata(response.body, error);
        if (!profile)
        {
            OSG_WARN << "[TFS] Metadata " << url << " refused: " << error << std::endl;
            return nullptr;
        }
        const size_t slash = url.find_last_of('/');
        _tileRoot = slash == std::string::npos ? url : url.substr(0, slash);
        _format = trim(_tfs.format().get()).empty() ? std::string("json") : trim(_tfs.format().get());
        return profile;
    }

    bool readAll(FeatureList&) const override
    {
        // Only the URL-less source is untiled, and it has nothing to give.
        return true;
    }

    bool readTile(unsigned lod, unsigned x, unsigned ySouth, FeatureList& out) const override
    {
        const unsigned row = _tfs.invertY().get() ? (1u << lod) - 1u - ySouth : ySouth;
        std::ostringstream url;
        url << _tileRoot << '/' << lod << '/' << x << '/' << row << '.' << _format;
        const Terrain::HttpResponse response = Terrain::cachedGet(url.str(), _cache.get(), _usage);
        if (!response.ok)
        {
            OSG_INFO << "[TFS] Tile " << url.str() << " not read: " << response.error << std::endl;
            return false;
        }
        std::string error;
        return readGeoJSON(response.body, out, error);
    }

private:
    osg::ref_ptr<FeatureProfile> profileFromMetadata(const std::string& text, std::string& error) const
    {
        Config document;
        std::istringstream in(text);
        if (!document.fromXML(in, error))
        {
            return nullptr;
        }
        const Config* layer = document.child_ptr("layer");
        if (!layer)
        {
            error = "no Layer element";
            return nullptr;
        }
        const std::string srsText = layer->hasValue("srs") ? trim(layer->value("srs")) : std::string("EPSG:4326");
        osg::ref_ptr<const SpatialReference> srs = SpatialReference::create(srsText);
        if (!srs)
        {
            error = "SRS \"" + srsText + "\" not understood";
            return nullptr;
        }
        const Config* box = layer->child_ptr("boundingbox");
        double minx = 0, miny = 0, maxx = 0, maxy = 0;
        if (!box || !readBound(*box, "minx", minx) || !readBound(*box, "miny", miny) ||
            !readBound(*box, "maxx", maxx) || !readBound(*box, "maxy", maxy) || minx >= maxx || miny >= maxy)
        {
            error = "no usable BoundingBox";
            return nullptr;
        }
        int first = 0, last = 0;
        if (!readLevel(*layer, "firstlevel", _tfs.minLevel().get(), first) ||
            !readLevel(*layer, "maxlevel", _tfs.maxLevel().get(), last) || first < 0 || last < first ||
            last > maxTfsLevel)
        {
            error = "levels are not 0 <= FirstLevel <= MaxLevel <= " + std::to_string(maxTfsLevel);
            return nullptr;
        }
        osg::ref_ptr<FeatureProfile> profile = new FeatureProfile(GeoExtent(srs.get(), minx, miny, maxx, maxy));
        profile->setFirstLevel(first);
        profile->setMaxLevel(last);
        profile->setTiled(true);
        if (!profile->getProfile())
        {
            error = "no tiling profile over the BoundingBox";
            return nullptr;
        }
        return profile;
    }

    TFSFeatureOptions _tfs;
    // Set once while opening, read-only afterwards, so tile reads from several threads need no lock.
    std::string _tileRoot;
    std::string _format;
    osg::ref_ptr<Terrain::HttpCache> _cache;
    Terrain::CacheUsage _usage = Terrain::CacheUsage::ReadWrite;
};

} // namespace

FeatureSource* createTfsFeatureSource(const FeatureSourceOptions& options)
{
    return new TfsFeatureSource(options);
}

} // namespace osgEarth::Features
