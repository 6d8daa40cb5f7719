#include "FeatureSourceDrivers.h"

#include <osgEarth/StringUtils>

#include <osg/Notify>

namespace osgEarth::Features {

FeatureSourceOptions::FeatureSourceOptions(const ConfigOptions& options) : DriverConfigOptions(options)
{
    fromConfig(_conf);
}

FeatureSourceOptions::~FeatureSourceOptions() = default;

void FeatureSourceOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("name", _name);
    if (const Config* profile = conf.child_ptr("profile"))
    {
        _profile = *profile;
    }
    conf.getIfSet("geo_interpolation", _geoInterpolation);
    conf.getIfSet("fid_attribute", _fidAttribute);
    conf.getIfSet("open_write", _openWrite);
}

Config FeatureSourceOptions::getConfig() const
{
    Config conf = DriverConfigOptions::getConfig();
    conf.setIfSet("name", _name);
    if (_profile.isSet())
    {
        conf.set("profile", _profile.get());
    }
    conf.setIfSet("geo_interpolation", _geoInterpolation);
    conf.setIfSet("fid_attribute", _fidAttribute);
    conf.setIfSet("open_write", _openWrite);
    return conf;
}

void FeatureSourceOptions::mergeConfig(const Config& conf)
{
    DriverConfigOptions::mergeConfig(conf);
    fromConfig(conf);
}

void FeatureProfile::setTiled(bool tiled)
{
    _tiled = tiled;
    _profile = nullptr;
    if (tiled && _extent.isValid())
    {
        _profile = Profile::create(_extent.getSRS(), _extent.xMin(), _extent.yMin(), _extent.xMax(), _extent.yMax(), 1,
                                   1);
    }
}

FeatureSource::FeatureSource(const FeatureSourceOptions& options) : _options(options)
{
}

FeatureSource::~FeatureSource() = default;

bool FeatureSource::initialize(const osgDB::Options* dbOptions)
{
    std::lock_guard<std::mutex> lock(_openMutex);
    if (!_opened)
    {
        _opened = true;
        osg::ref_ptr<FeatureProfile> profile = createFeatureProfile(dbOptions);
        // A tiled profile without its tiling scheme could not answer any tile query.
        if (profile && profile->getTiled() && !profile->getProfile())
        {
            profile = nullptr;
        }
        _profile = profile;
        if (!_profile)
        {
            OSG_WARN << "[FeatureSource] \"" << _name << "\" (" << _options.getDriver()
                     << "): no feature profile, the source gives no features" << std::endl;
        }
    }
    return _profile.valid();
}

const FeatureProfile* FeatureSource::getFeatureProfile() const
{
    std::lock_guard<std::mutex> lock(_openMutex);
    return _profile.get();
}

bool FeatureSource::getFeatures(FeatureList& out) const
{
    const FeatureProfile* profile = getFeatureProfile();
    return profile && !profile->getTiled() && readAll(out);
}

bool FeatureSource::getFeatures(unsigned lod, unsigned x, unsigned y, FeatureList& out) const
{
    const FeatureProfile* profile = getFeatureProfile();
    if (!profile || !profile->getTiled())
    {
        return false;
    }
    unsigned wide = 0, high = 0;
    profile->getProfile()->getNumTiles(lod, wide, high);
    // Past level 30 the counts saturate, so such levels are refused rather than addressed wrongly.
    if (lod > 30 || x >= wide || y >= high)
    {
        return false;
    }
    return readTile(lod, x, y, out);
}

bool FeatureSource::readTile(unsigned, unsigned, unsigned, FeatureList&) const
{
    return false;
}

FeatureSource* FeatureSourceFactory::create(const FeatureSourceOptions& options)
{
    const std::string driver = toLower(trim(options.getDriver()));
    osg::ref_ptr<FeatureSource> source;
    if (driver == "tfs")
    {
        source = createTfsFeatureSource(options);
    }
    else if (driver == "ogr")
    {
        source = createOgrFeatureSource(options);
    }
    if (!source)
    {
        OSG_WARN << "[FeatureSourceFactory] No feature driver \"" << options.getDriver() << "\"" << std::endl;
        return nullptr;
    }
    source->setName(options.name().isSet() && !options.name()->empty() ? options.name().get() : options.getDriver());
    return source.release();
}

} // namespace osgEarth::Features
