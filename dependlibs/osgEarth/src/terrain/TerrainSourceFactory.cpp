#include "TerrainSources.h"

#include <osgEarth/StringUtils>

#include <osg/Notify>

namespace osgEarth::Terrain {

namespace {

std::string layerLabel(const TerrainLayerOptions& layer)
{
    return "\"" + layer.name().get() + "\" (driver \"" + layer.getDriver() + "\")";
}

// Network drivers read tiles over HTTP; they plug in here once the fetching side exists. Until then such a layer
// is skipped with a warning, like any layer we cannot draw.
bool isNetworkDriver(const std::string& driver)
{
    return driver == "xyz" || driver == "tms";
}

} // namespace

osg::ref_ptr<ImageSource> createImageSource(const ImageLayerOptions& layer, const Profile* mapProfile)
{
    const std::string driver = toLower(layer.getDriver());
    if (!layer.enabled().get())
    {
        return nullptr;
    }
    if (driver == "debug")
    {
        return createDebugImageSource(layer);
    }
    if (driver == "gdal")
    {
        return createGdalImageSource(layer, mapProfile);
    }
    if (isNetworkDriver(driver))
    {
        OSG_WARN << "Globe terrain: image layer " << layerLabel(layer)
                 << " needs network tile fetching, which this build does not draw yet; layer skipped" << std::endl;
        return nullptr;
    }
    OSG_WARN << "Globe terrain: image layer " << layerLabel(layer) << " has an unknown driver; layer skipped"
             << std::endl;
    return nullptr;
}

osg::ref_ptr<ElevationSource> createElevationSource(const ElevationLayerOptions& layer, const Profile* mapProfile)
{
    const std::string driver = toLower(layer.getDriver());
    if (!layer.enabled().get())
    {
        return nullptr;
    }
    if (driver == "gdal")
    {
        return createGdalElevationSource(layer, mapProfile);
    }
    OSG_WARN << "Globe terrain: elevation layer " << layerLabel(layer)
             << (isNetworkDriver(driver) ? " needs network tile fetching, not drawn yet" : " has an unusable driver")
             << "; layer skipped" << std::endl;
    return nullptr;
}

} // namespace osgEarth::Terrain
