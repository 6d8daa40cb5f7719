#include "TerrainSources.h"

#include <osgEarth/StringUtils>

#include <osg/Notify>

namespace osgEarth::Terrain {

namespace {

std::string layerLabel(const TerrainLayerOptions& layer)
{
    return "\"" + layer.name().get() + "\" (driver \"" + layer.getDriver() + "\")";
}

} // namespace

osg::ref_ptr<ImageSource> createImageSource(const ImageLayerOptions& layer, const Profile* mapProfile,
                                            const Config& mapOptions)
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
    if (driver == "xyz")
    {
        return createXyzImageSource(layer, mapOptions);
    }
    if (driver == "tms")
    {
        return createTmsImageSource(layer, mapOptions);
    }
    OSG_WARN << "Globe terrain: image layer " << layerLabel(layer) << " has an unknown driver; layer skipped"
             << std::endl;
    return nullptr;
}

osg::ref_ptr<ElevationSource> createElevationSource(const ElevationLayerOptions& layer, const Profile* mapProfile,
                                                    const Config& mapOptions)
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
    if (driver == "xyz")
    {
        return createXyzElevationSource(layer, mapOptions);
    }
    if (driver == "tms")
    {
        return createTmsElevationSource(layer, mapOptions);
    }
    OSG_WARN << "Globe terrain: elevation layer " << layerLabel(layer) << " has an unusable driver; layer skipped"
             << std::endl;
    return nullptr;
}

} // namespace osgEarth::Terrain
