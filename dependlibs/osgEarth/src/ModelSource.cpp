#include <osgEarth/ModelSource>

#include <osgEarth/StringUtils>

#include <osg/Notify>

#include <map>
#include <mutex>

namespace osgEarth {

namespace {

struct DriverRegistry
{
    std::mutex mutex; // guards creators: drivers may register from static initialisers of other libraries
    std::map<std::string, ModelSourceFactory::Creator> creators;
};

// Built on first use, so registrations from other libraries' static initialisers never see it unconstructed.
DriverRegistry& registry()
{
    static DriverRegistry instance;
    return instance;
}

std::string driverKey(const std::string& driver)
{
    return toLower(trim(driver));
}

} // namespace

ModelSourceOptions::ModelSourceOptions(const ConfigOptions& options) : DriverConfigOptions(options)
{
    fromConfig(_conf);
}

ModelSourceOptions::~ModelSourceOptions() = default;

void ModelSourceOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("min_range", _minRange);
    conf.getIfSet("max_range", _maxRange);
    conf.getIfSet("render_order", _renderOrder);
    conf.getIfSet("depth_test_enabled", _depthTestEnabled);
}

Config ModelSourceOptions::getConfig() const
{
    Config conf = DriverConfigOptions::getConfig();
    conf.setIfSet("min_range", _minRange);
    conf.setIfSet("max_range", _maxRange);
    conf.setIfSet("render_order", _renderOrder);
    conf.setIfSet("depth_test_enabled", _depthTestEnabled);
    return conf;
}

void ModelSourceOptions::mergeConfig(const Config& conf)
{
    DriverConfigOptions::mergeConfig(conf);
    fromConfig(conf);
}

ModelSource::ModelSource(const ModelSourceOptions& options) : _options(options)
{}

ModelSource::~ModelSource() = default;

osg::ref_ptr<ModelSource> ModelSourceFactory::create(const ModelSourceOptions& options)
{
    Creator creator;
    {
        DriverRegistry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto found = reg.creators.find(driverKey(options.getDriver()));
        if (found != reg.creators.end())
        {
            creator = found->second;
        }
    }
    if (!creator)
    {
        OSG_WARN << "[ModelSourceFactory] "
                 << (options.getDriver().empty() ? std::string("the model layer names no driver")
                                                 : "no model driver \"" + options.getDriver() + "\"")
                 << std::endl;
        return nullptr;
    }
    // Called outside the lock: a creator may itself look up or register drivers.
    osg::ref_ptr<ModelSource> source = creator(options);
    if (!source.valid())
    {
        OSG_WARN << "[ModelSourceFactory] driver \"" << options.getDriver() << "\" made no source" << std::endl;
    }
    return source;
}

void ModelSourceFactory::registerDriver(const std::string& driver, Creator creator)
{
    DriverRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.creators[driverKey(driver)] = std::move(creator);
}

void ModelSourceFactory::unregisterDriver(const std::string& driver)
{
    DriverRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.creators.erase(driverKey(driver));
}

bool ModelSourceFactory::isRegistered(const std::string& driver)
{
    DriverRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return reg.creators.count(driverKey(driver)) != 0;
}

} // namespace osgEarth
