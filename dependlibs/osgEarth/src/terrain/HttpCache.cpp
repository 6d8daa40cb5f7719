#include "HttpCache.h"

#include "../ReferrerPath.h"

#include <osgEarth/StringUtils>

#include <osg/Notify>
#include <osgDB/FileCache>
#include <osgDB/FileUtils>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace osgEarth::Terrain {

namespace {

bool parseUsage(const Config& owner, CacheUsage& usage)
{
    const Config* policy = owner.child_ptr("cache_policy");
    if (!policy)
    {
        return false;
    }
    const std::string word = toLower(policy->value("usage"));
    if (word.empty())
    {
        return false;
    }
    if (word == "read_write")
    {
        usage = CacheUsage::ReadWrite;
    }
    else if (word == "cache_only")
    {
        usage = CacheUsage::CacheOnly;
    }
    else if (word == "no_cache")
    {
        usage = CacheUsage::NoCache;
    }
    else
    {
        OSG_WARN << "[HttpCache] unknown cache usage \"" << word << "\"; using read_write" << std::endl;
        usage = CacheUsage::ReadWrite;
    }
    return true;
}

// Distinguishes the temporary files of concurrent writers of the same URL.
std::string temporarySuffix()
{
    static std::atomic<unsigned long> counter{0};
    std::ostringstream out;
    out << ".part" << std::hash<std::thread::id>()(std::this_thread::get_id()) << '_' << counter++;
    return out.str();
}

} // namespace

CacheUsage cacheUsageFor(const Config& layer, const Config& mapOptions)
{
    CacheUsage usage = CacheUsage::ReadWrite;
    if (!parseUsage(layer, usage))
    {
        parseUsage(mapOptions, usage);
    }
    return usage;
}

osg::ref_ptr<HttpCache> HttpCache::fromMapOptions(const Config& mapOptions)
{
    if (const Config* cache = mapOptions.child_ptr("cache"))
    {
        const std::string driver = toLower(cache->value("driver"));
        const std::string path = cache->value("path");
        if ((driver.empty() || driver == "filesystem") && !path.empty())
        {
            return new HttpCache(resolvedPathValue(*cache, "path"));
        }
        OSG_WARN << "[HttpCache] only a filesystem cache with a path is supported (driver \"" << driver
                 << "\"); caching off" << std::endl;
        return nullptr;
    }
    const char* fromEnvironment = std::getenv("OSG_FILE_CACHE");
    if (fromEnvironment && *fromEnvironment)
    {
        return new HttpCache(fromEnvironment);
    }
    return nullptr;
}

HttpCache::HttpCache(const std::string& folder) : _files(new osgDB::FileCache(folder))
{}

HttpCache::~HttpCache() = default;

const std::string& HttpCache::folder() const
{
    return _files->getFileCachePath();
}

bool HttpCache::read(const std::string& url, std::string& bytes) const
{
    if (!_files->isFileAppropriateForFileCache(url))
    {
        return false;
    }
    std::ifstream in(_files->createCacheFileName(url), std::ios::binary);
    if (!in)
    {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && !bytes.empty();
}

void HttpCache::write(const std::string& url, const std::string& bytes) const
{
    if (!_files->isFileAppropriateForFileCache(url))
    {
        return;
    }
    const std::string target = _files->createCacheFileName(url);
    if (!osgDB::makeDirectoryForFile(target))
    {
        OSG_INFO << "[HttpCache] cannot create the folder for " << target << std::endl;
        return;
    }
    const std::string temporary = target + temporarySuffix();
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out)
        {
            OSG_INFO << "[HttpCache] cannot write " << temporary << std::endl;
            std::remove(temporary.c_str());
            return;
        }
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0)
    {
        std::remove(temporary.c_str());
    }
}

HttpResponse cachedGet(const std::string& url, const HttpCache* cache, CacheUsage usage)
{
    HttpResponse response;
    if (cache && usage != CacheUsage::NoCache && cache->read(url, response.body))
    {
        response.ok = true;
        response.status = 200;
        return response;
    }
    if (usage == CacheUsage::CacheOnly)
    {
        response.error = cache ? "not in the cache (cache_only)" : "cache_only, but no cache is configured";
        return response;
    }
    response = httpGet(url);
    if (response.ok && cache && usage == CacheUsage::ReadWrite)
    {
        cache->write(url, response.body);
    }
    return response;
}

} // namespace osgEarth::Terrain
