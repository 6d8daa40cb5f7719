#include "ProfileConfig.h"

#include <osgEarth/StringUtils>

#include <osg/Notify>

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

} // namespace

osg::ref_ptr<const Profile> profileFromConfig(const Config& conf, const std::string& who)
{
    const std::string srsInit = conf.value("srs");
    if (srsInit.empty())
    {
        // The named form: <profile>global-geodetic</profile>.
        const std::string name = trim(conf.value());
        osg::ref_ptr<const Profile> named = Profile::create(toLower(name));
        if (!named.valid())
        {
            OSG_WARN << who << " unknown profile \"" << name << "\"" << std::endl;
        }
        return named;
    }

    osg::ref_ptr<const SpatialReference> srs = SpatialReference::create(srsInit, conf.value("vdatum"));
    if (!srs.valid())
    {
        OSG_WARN << who << " profile SRS \"" << srsInit << "\" is not understood" << std::endl;
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
        OSG_WARN << who << " profile with SRS \"" << srsInit << "\" needs xmin, ymin, xmax and ymax" << std::endl;
        return nullptr;
    }
    osg::ref_ptr<const Profile> profile =
        Profile::create(srs.get(), xmin, ymin, xmax, ymax, conf.value("num_tiles_wide_at_lod_0", 0u),
                        conf.value("num_tiles_high_at_lod_0", 0u));
    if (!profile.valid())
    {
        OSG_WARN << who << " profile with SRS \"" << srsInit << "\" has an unusable extent or tile count" << std::endl;
    }
    return profile;
}

} // namespace osgEarth
