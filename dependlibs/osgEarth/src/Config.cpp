#include <osgEarth/Config>

#include <utility>

namespace osgEarth {

ConfigSet Config::children(const std::string& key) const
{
    ConfigSet result;
    for (const Config& c : _children)
    {
        if (c._key == key)
        {
            result.push_back(c);
        }
    }
    return result;
}

Config Config::child(const std::string& key) const
{
    const Config* found = child_ptr(key);
    return found ? *found : Config();
}

const Config* Config::child_ptr(const std::string& key) const
{
    for (const Config& c : _children)
    {
        if (c._key == key)
        {
            return &c;
        }
    }
    return nullptr;
}

Config* Config::mutable_child(const std::string& key)
{
    return const_cast<Config*>(static_cast<const Config*>(this)->child_ptr(key));
}

const Config* Config::find(const std::string& key, bool checkThis) const
{
    if (checkThis && _key == key)
    {
        return this;
    }
    if (const Config* direct = child_ptr(key))
    {
        return direct;
    }
    for (const Config& c : _children)
    {
        if (const Config* deeper = c.find(key, false))
        {
            return deeper;
        }
    }
    return nullptr;
}

Config* Config::find(const std::string& key, bool checkThis)
{
    return const_cast<Config*>(static_cast<const Config*>(this)->find(key, checkThis));
}

void Config::remove(const std::string& key)
{
    _children.remove_if([&key](const Config& c) { return c._key == key; });
}

void Config::add(const Config& conf)
{
    _children.push_back(conf);
    _children.back().inheritReferrer(_referrer);
}

void Config::add(const std::string& key, const Config& conf)
{
    Config renamed(conf);
    renamed._key = key;
    add(renamed);
}

void Config::add(const std::string& key, const std::string& value)
{
    add(Config(key, value));
}

void Config::set(const Config& conf)
{
    // Copy first: `conf` may be one of the children remove() is about to destroy.
    Config replacement(conf);
    remove(replacement._key);
    add(replacement);
}

void Config::set(const std::string& key, const Config& conf)
{
    Config replacement(conf);
    replacement._key = key;
    set(replacement);
}

void Config::set(const std::string& key, const std::string& value)
{
    set(Config(key, value));
}

std::string Config::value(const std::string& key) const
{
    std::string result;
    if (const Config* found = child_ptr(key))
    {
        result = trim(found->_value);
    }
    if (result.empty() && _key == key)
    {
        result = trim(_value);
    }
    return result;
}

void Config::merge(const Config& rhs)
{
    // Copy first so that merging a Config into itself (or into its own ancestor) reads intact children.
    const Config source(rhs);
    for (const Config& c : source._children)
    {
        remove(c._key);
    }
    for (const Config& c : source._children)
    {
        add(c);
    }
    for (const auto& [key, object] : source._nonSerializables)
    {
        _nonSerializables[key] = object;
    }
}

Config Config::operator-(const Config& rhs) const
{
    Config result(*this);
    for (const Config& c : rhs._children)
    {
        result.remove(c._key);
    }
    return result;
}

void Config::setReferrer(const std::string& referrer)
{
    _referrer = referrer;
    for (Config& c : _children)
    {
        c.setReferrer(referrer);
    }
}

void Config::inheritReferrer(const std::string& referrer)
{
    if (referrer.empty())
    {
        return;
    }
    if (_referrer.empty())
    {
        _referrer = referrer;
    }
    for (Config& c : _children)
    {
        c.inheritReferrer(_referrer);
    }
}

void Config::addNonSerializable(const std::string& key, osg::Referenced* object)
{
    _nonSerializables[key] = object;
}

void Config::removeNonSerializable(const std::string& key)
{
    _nonSerializables.erase(key);
}

// ---------------------------------------------------------------------------------------------------------------

ConfigOptions::ConfigOptions(const Config& conf) : _conf(conf)
{}

ConfigOptions::ConfigOptions(const ConfigOptions& rhs) : _conf(rhs.getConfig())
{}

ConfigOptions& ConfigOptions::operator=(const ConfigOptions& rhs)
{
    if (this != &rhs)
    {
        _conf = rhs.getConfig();
    }
    return *this;
}

ConfigOptions::~ConfigOptions() = default;

Config ConfigOptions::getConfig() const
{
    return _conf;
}

void ConfigOptions::mergeConfig(const Config& conf)
{
    _conf.merge(conf);
}

DriverConfigOptions::DriverConfigOptions(const ConfigOptions& options) : ConfigOptions(options)
{
    readDriver(_conf);
}

DriverConfigOptions::~DriverConfigOptions() = default;

Config DriverConfigOptions::getConfig() const
{
    Config conf = ConfigOptions::getConfig();
    if (!_driver.empty())
    {
        conf.set("driver", _driver);
    }
    return conf;
}

void DriverConfigOptions::mergeConfig(const Config& conf)
{
    ConfigOptions::mergeConfig(conf);
    readDriver(conf);
}

void DriverConfigOptions::readDriver(const Config& conf)
{
    std::string driver = conf.value("driver");
    if (driver.empty())
    {
        driver = conf.value("type");
    }
    // A merged Config that names no driver keeps the one already chosen.
    if (!driver.empty())
    {
        _driver = driver;
    }
}

} // namespace osgEarth
