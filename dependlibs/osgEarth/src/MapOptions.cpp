#include <osgEarth/MapOptions>

#include <osg/Notify>

namespace osgEarth {

MapOptions::MapOptions(const ConfigOptions& options) : ConfigOptions(options)
{
    fromConfig(_conf);
}

void MapOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("name", _name);

    if (conf.hasValue("type"))
    {
        const std::string type = toLower(conf.value("type"));
        if (type == "geocentric" || type == "globe" || type == "round")
        {
            _coordSysType = CSTYPE_GEOCENTRIC;
        }
        else if (type == "projected" || type == "flat")
        {
            _coordSysType = CSTYPE_PROJECTED;
        }
        else if (type == "cube")
        {
            _coordSysType = CSTYPE_GEOCENTRIC_CUBE;
        }
        else
        {
            // A typo must not silently flatten the globe: keep whatever type was already chosen.
            OSG_WARN << "[MapOptions] unknown map type \"" << conf.value("type") << "\"; keeping "
                     << (isGeocentric() ? "geocentric" : "projected") << std::endl;
        }
    }

    if (const Config* profile = conf.child_ptr("profile"))
    {
        _profile = *profile;
    }
    conf.getIfSet("lighting", _lighting);
    if (const Config* terrain = conf.child_ptr("terrain"))
    {
        _terrain = *terrain;
    }
}

Config MapOptions::getConfig() const
{
    Config conf = ConfigOptions::getConfig();
    conf.key() = "options";
    conf.setIfSet("name", _name);
    conf.setIfSet("type", "geocentric", _coordSysType, CSTYPE_GEOCENTRIC);
    conf.setIfSet("type", "cube", _coordSysType, CSTYPE_GEOCENTRIC_CUBE);
    conf.setIfSet("type", "projected", _coordSysType, CSTYPE_PROJECTED);
    if (_profile.isSet())
    {
        conf.set("profile", _profile.get());
    }
    conf.setIfSet("lighting", _lighting);
    if (!_terrain.empty())
    {
        conf.set("terrain", _terrain);
    }
    return conf;
}

void MapOptions::mergeConfig(const Config& conf)
{
    ConfigOptions::mergeConfig(conf);
    fromConfig(conf);
}

} // namespace osgEarth
