#pragma once

#include "HttpClient.h"

#include <osgEarth/Config>

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <string>

namespace osgDB {
class FileCache;
}

namespace osgEarth::Terrain {

/// How a layer may use the file cache (`<cache_policy usage="...">`).
enum class CacheUsage
{
    ReadWrite, ///< read the cache first, fetch what is missing and store it
    CacheOnly, ///< never touch the network
    NoCache    ///< always fetch, store nothing
};

/// The usage a layer's own `<cache_policy>` asks for, else the map's, else read-write. Unknown words warn once and
/// fall back to read-write.
CacheUsage cacheUsageFor(const Config& layer, const Config& mapOptions);

/// Fetched bytes kept on disk between runs, in an osgDB file cache. Safe to share between pager threads: every
/// file is written under a temporary name and renamed into place, so readers never see half a file.
class HttpCache : public osg::Referenced
{
public:
    /// The cache the map asks for with `<cache driver="filesystem" path="...">` (a relative path counts from the
    /// earth file's folder), or else the one OSG_FILE_CACHE names; null when neither is set.
    static osg::ref_ptr<HttpCache> fromMapOptions(const Config& mapOptions);

    explicit HttpCache(const std::string& folder);
    const std::string& folder() const;

    /// True (with the bytes) when `url` was stored before.
    bool read(const std::string& url, std::string& bytes) const;
    /// Stores the bytes of `url`; failures only log, a cache is an optimisation.
    void write(const std::string& url, const std::string& bytes) const;

protected:
    ~HttpCache() override;

private:
    osg::ref_ptr<osgDB::FileCache> _files;
};

/// GET through the cache as `usage` allows. `cache` may be null (no cache configured).
HttpResponse cachedGet(const std::string& url, const HttpCache* cache, CacheUsage usage);

} // namespace osgEarth::Terrain
