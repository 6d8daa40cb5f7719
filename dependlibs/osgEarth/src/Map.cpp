#include <osgEarth/Map>

#include <osg/Notify>

#include <algorithm>
#include <array>

namespace osgEarth {

namespace {

// The extent a profile covers when its `<profile>` names an SRS but no bounds.
bool defaultExtentFor(const SpatialReference* srs, double& xmin, double& ymin, double& xmax, double& ymax)
{
    if (srs->isGeographic())
    {
        xmin = -180.0, ymin = -90.0, xmax = 180.0, ymax = 90.0;
        return true;
    }
    if (srs->isSphericalMercator())
    {
        osg::ref_ptr<const Profile> mercator = Profile::create("spherical-mercator");
        if (!mercator.valid())
        {
            return false;
        }
        xmin = mercator->getExtent().xMin(), ymin = mercator->getExtent().yMin();
        xmax = mercator->getExtent().xMax(), ymax = mercator->getExtent().yMax();
        return true;
    }
    return false;
}

// The profile a `<profile>` element describes, or null (with the reason logged) when it describes none we can build.
osg::ref_ptr<const Profile> profileFromConfig(const Config& conf)
{
    const std::string srsInit = conf.value("srs");
    if (srsInit.empty())
    {
        // The named form: <profile>global-geodetic</profile>.
        const std::string name = trim(conf.value());
        osg::ref_ptr<const Profile> named = Profile::create(toLower(name));
        if (!named.valid())
        {
            OSG_WARN << "[Map] unknown profile \"" << name << "\"" << std::endl;
        }
        return named;
    }

    osg::ref_ptr<const SpatialReference> srs = SpatialReference::create(srsInit, conf.value("vdatum"));
    if (!srs.valid())
    {
        OSG_WARN << "[Map] profile SRS \"" << srsInit << "\" is not understood" << std::endl;
        return nullptr;
    }
    double xmin = 0.0, ymin = 0.0, xmax = 0.0, ymax = 0.0;
    const bool hasBounds =
        conf.hasValue("xmin") && conf.hasValue("ymin") && conf.hasValue("xmax") && conf.hasValue("ymax");
    if (hasBounds)
    {
        xmin = conf.value("xmin", 0.0), ymin = conf.value("ymin", 0.0);
        xmax = conf.value("xmax", 0.0), ymax = conf.value("ymax", 0.0);
    }
    else if (!defaultExtentFor(srs.get(), xmin, ymin, xmax, ymax))
    {
        OSG_WARN << "[Map] profile with SRS \"" << srsInit << "\" needs xmin, ymin, xmax and ymax" << std::endl;
        return nullptr;
    }
    osg::ref_ptr<const Profile> profile =
        Profile::create(srs.get(), xmin, ymin, xmax, ymax, conf.value("num_tiles_wide_at_lod_0", 0u),
                        conf.value("num_tiles_high_at_lod_0", 0u));
    if (!profile.valid())
    {
        OSG_WARN << "[Map] profile with SRS \"" << srsInit << "\" has an unusable extent or tile count" << std::endl;
    }
    return profile;
}

osg::ref_ptr<const Profile> chooseProfile(const MapOptions& options)
{
    osg::ref_ptr<const Profile> configured;
    if (options.profile().isSet())
    {
        configured = profileFromConfig(options.profile().get());
    }
    if (configured.valid() && (!options.isGeocentric() || configured->getSRS()->isGeographic()))
    {
        return configured;
    }
    if (configured.valid())
    {
        OSG_INFO << "[Map] a geocentric map tiles in geographic coordinates; using global-geodetic instead of "
                 << configured->getSRS()->getHorizInitString() << std::endl;
    }
    return Profile::create("global-geodetic");
}

template <typename Layers>
auto findByName(const Layers& layers, const std::string& name) -> decltype(&layers.front())
{
    auto found = std::find_if(layers.begin(), layers.end(),
                              [&](const auto& layer) { return layer.name().isSet() && layer.name().get() == name; });
    return found == layers.end() ? nullptr : &*found;
}

} // namespace

Map::Map(const MapOptions& options) : _options(options), _profile(chooseProfile(options))
{}

Map::~Map() = default;

bool Map::isGeocentric() const
{
    return _options.isGeocentric();
}

bool Map::isSupportedTerrainDriver(const std::string& driver)
{
    static const std::array<const char*, 4> kDrivers = {"gdal", "xyz", "tms", "debug"};
    const std::string lower = toLower(trim(driver));
    return std::any_of(kDrivers.begin(), kDrivers.end(), [&](const char* known) { return lower == known; });
}

bool Map::acceptsLayer(const char* kind, const TerrainLayerOptions& layer) const
{
    if (isSupportedTerrainDriver(layer.getDriver()))
    {
        return true;
    }
    OSG_WARN << "[Map] skipping " << kind << " layer \"" << layer.name().get() << "\": "
             << (layer.getDriver().empty() ? std::string("it names no driver")
                                           : "driver \"" + layer.getDriver() + "\" is not supported")
             << " (supported: gdal, xyz, tms, debug)" << std::endl;
    return false;
}

bool Map::addImageLayer(const ImageLayerOptions& layer)
{
    if (!acceptsLayer("image", layer))
    {
        return false;
    }
    _imageLayers.push_back(layer);
    return true;
}

bool Map::addElevationLayer(const ElevationLayerOptions& layer)
{
    if (!acceptsLayer("elevation", layer))
    {
        return false;
    }
    _elevationLayers.push_back(layer);
    return true;
}

const ImageLayerOptions* Map::getImageLayerByName(const std::string& name) const
{
    return findByName(_imageLayers, name);
}

const ElevationLayerOptions* Map::getElevationLayerByName(const std::string& name) const
{
    return findByName(_elevationLayers, name);
}

} // namespace osgEarth
