#include <osgEarth/Map>

#include "ProfileConfig.h"

#include <osg/Notify>

#include <algorithm>
#include <array>

namespace osgEarth {

namespace {

osg::ref_ptr<const Profile> chooseProfile(const MapOptions& options)
{
    osg::ref_ptr<const Profile> configured;
    if (options.profile().isSet())
    {
        configured = profileFromConfig(options.profile().get(), "[Map]");
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

void Map::addModelLayer(ModelLayer* layer)
{
    if (!layer || std::find(_modelLayers.begin(), _modelLayers.end(), layer) != _modelLayers.end())
    {
        return;
    }
    _modelLayers.push_back(layer);
    ++_dataModelRevision;
    const auto index = static_cast<unsigned>(_modelLayers.size() - 1);
    // A copy, so a listener that adds or removes listeners does not disturb this walk.
    const MapCallbackList callbacks = _callbacks;
    for (const auto& callback : callbacks)
    {
        callback->onModelLayerAdded(layer, index);
    }
}

void Map::removeModelLayer(ModelLayer* layer)
{
    auto found = std::find(_modelLayers.begin(), _modelLayers.end(), layer);
    if (!layer || found == _modelLayers.end())
    {
        return;
    }
    // Held through the notification: the map's reference may have been the last.
    osg::ref_ptr<ModelLayer> keep = layer;
    _modelLayers.erase(found);
    ++_dataModelRevision;
    const MapCallbackList callbacks = _callbacks;
    for (const auto& callback : callbacks)
    {
        callback->onModelLayerRemoved(layer);
    }
}

ModelLayer* Map::getModelLayerByName(const std::string& name) const
{
    auto found = std::find_if(_modelLayers.begin(), _modelLayers.end(),
                              [&](const osg::ref_ptr<ModelLayer>& layer) { return layer->getName() == name; });
    return found == _modelLayers.end() ? nullptr : found->get();
}

int Map::getModelLayers(ModelLayerVector& out) const
{
    out = _modelLayers;
    return _dataModelRevision;
}

MapCallback* Map::addMapCallback(MapCallback* callback)
{
    if (callback && std::find(_callbacks.begin(), _callbacks.end(), callback) == _callbacks.end())
    {
        _callbacks.push_back(callback);
    }
    return callback;
}

void Map::removeMapCallback(MapCallback* callback)
{
    _callbacks.erase(std::remove(_callbacks.begin(), _callbacks.end(), callback), _callbacks.end());
}

} // namespace osgEarth
