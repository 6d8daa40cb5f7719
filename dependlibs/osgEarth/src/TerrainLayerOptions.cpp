#include <osgEarth/TerrainLayerOptions>

#include "ReferrerPath.h"

namespace osgEarth {

TerrainLayerOptions::TerrainLayerOptions(const ConfigOptions& options) : DriverConfigOptions(options)
{
    fromConfig(_conf);
}

TerrainLayerOptions::TerrainLayerOptions(const std::string& name, const std::string& driver)
{
    _name = name;
    setDriver(driver);
}

TerrainLayerOptions::~TerrainLayerOptions() = default;

void TerrainLayerOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("name", _name);
    conf.getIfSet("enabled", _enabled);
    conf.getIfSet("visible", _visible);
    conf.getIfSet("min_level", _minLevel);
    conf.getIfSet("max_level", _maxLevel);
    conf.getIfSet("min_resolution", _minResolution);
    conf.getIfSet("max_resolution", _maxResolution);
    conf.getIfSet("max_data_level", _maxDataLevel);
    conf.getIfSet("tile_size", _tileSize);
}

std::string TerrainLayerOptions::resolvedURL() const
{
    return resolvedPathValue(_conf, "url");
}

Config TerrainLayerOptions::getConfig() const
{
    Config conf = DriverConfigOptions::getConfig();
    conf.setIfSet("name", _name);
    conf.setIfSet("enabled", _enabled);
    conf.setIfSet("visible", _visible);
    conf.setIfSet("min_level", _minLevel);
    conf.setIfSet("max_level", _maxLevel);
    conf.setIfSet("min_resolution", _minResolution);
    conf.setIfSet("max_resolution", _maxResolution);
    conf.setIfSet("max_data_level", _maxDataLevel);
    conf.setIfSet("tile_size", _tileSize);
    return conf;
}

void TerrainLayerOptions::mergeConfig(const Config& conf)
{
    DriverConfigOptions::mergeConfig(conf);
    fromConfig(conf);
}

ImageLayerOptions::ImageLayerOptions(const ConfigOptions& options) : TerrainLayerOptions(options)
{
    _conf.key() = "image";
    fromConfig(_conf);
}

ImageLayerOptions::ImageLayerOptions(const std::string& name, const std::string& driver)
    : TerrainLayerOptions(name, driver)
{
    _conf.key() = "image";
}

void ImageLayerOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("opacity", _opacity);
    conf.getIfSet("min_range", _minRange);
    conf.getIfSet("max_range", _maxRange);
}

Config ImageLayerOptions::getConfig() const
{
    Config conf = TerrainLayerOptions::getConfig();
    conf.setIfSet("opacity", _opacity);
    conf.setIfSet("min_range", _minRange);
    conf.setIfSet("max_range", _maxRange);
    return conf;
}

void ImageLayerOptions::mergeConfig(const Config& conf)
{
    TerrainLayerOptions::mergeConfig(conf);
    fromConfig(conf);
}

ElevationLayerOptions::ElevationLayerOptions(const ConfigOptions& options) : TerrainLayerOptions(options)
{
    // Legacy files call these <heightfield>; one key keeps later lookups simple.
    _conf.key() = "elevation";
    fromConfig(_conf);
}

ElevationLayerOptions::ElevationLayerOptions(const std::string& name, const std::string& driver)
    : TerrainLayerOptions(name, driver)
{
    _conf.key() = "elevation";
}

void ElevationLayerOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("offset", _offset);
    conf.getIfSet("nodata_policy", "interpolate", _noDataPolicy, NODATA_INTERPOLATE);
    conf.getIfSet("nodata_policy", "msl", _noDataPolicy, NODATA_MSL);
}

Config ElevationLayerOptions::getConfig() const
{
    Config conf = TerrainLayerOptions::getConfig();
    conf.setIfSet("offset", _offset);
    conf.setIfSet("nodata_policy", "interpolate", _noDataPolicy, NODATA_INTERPOLATE);
    conf.setIfSet("nodata_policy", "msl", _noDataPolicy, NODATA_MSL);
    return conf;
}

void ElevationLayerOptions::mergeConfig(const Config& conf)
{
    TerrainLayerOptions::mergeConfig(conf);
    fromConfig(conf);
}

} // namespace osgEarth
