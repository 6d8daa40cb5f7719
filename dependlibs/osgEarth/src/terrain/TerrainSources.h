#pragma once

#include <osgEarth/TerrainLayerOptions>
#include <osgEarth/TileKey>

#include <osg/Image>
#include <osg/Referenced>
#include <osg/ref_ptr>

#include <vector>

namespace osgEarth::Terrain {

/// Produces the imagery of one layer for a tile. Called from the database pager's threads, so implementations
/// guard whatever state they share.
class ImageSource : public osg::Referenced
{
public:
    /// A `size` × `size` RGBA image covering the key's extent, row 0 at the south edge; null where the layer has
    /// nothing for this tile (the layers below then show through).
    virtual osg::ref_ptr<osg::Image> createImage(const TileKey& key, unsigned size) = 0;

protected:
    ~ImageSource() override = default;
};

/// Produces heights (metres) for a tile's posts.
class ElevationSource : public osg::Referenced
{
public:
    /// Fills `heights` (posts × posts, row 0 at the north edge, corners on the extent's corners) where the layer
    /// has data and sets the matching `valid` flags; false when the tile lies wholly outside the layer.
    virtual bool sampleHeights(const TileKey& key, unsigned posts, std::vector<float>& heights,
                               std::vector<bool>& valid) = 0;

protected:
    ~ElevationSource() override = default;
};

/// The source for an image layer's driver, or null (with one warning) when the driver is unknown or its data cannot
/// be opened. `mapProfile` is the profile tiles are keyed by; `mapOptions` is the map's `<options>` Config, whose
/// `<cache>` and `<cache_policy>` the network drivers follow.
osg::ref_ptr<ImageSource> createImageSource(const ImageLayerOptions& layer, const Profile* mapProfile,
                                            const Config& mapOptions);
/// The same for an elevation layer.
osg::ref_ptr<ElevationSource> createElevationSource(const ElevationLayerOptions& layer, const Profile* mapProfile,
                                                    const Config& mapOptions);

/// Driver-specific constructors behind the factories above.
osg::ref_ptr<ImageSource> createDebugImageSource(const ImageLayerOptions& layer);
osg::ref_ptr<ImageSource> createGdalImageSource(const ImageLayerOptions& layer, const Profile* mapProfile);
osg::ref_ptr<ElevationSource> createGdalElevationSource(const ElevationLayerOptions& layer, const Profile* mapProfile);
/// Network drivers: tiles fetched over HTTP(S) through the map's file cache.
osg::ref_ptr<ImageSource> createXyzImageSource(const ImageLayerOptions& layer, const Config& mapOptions);
osg::ref_ptr<ElevationSource> createXyzElevationSource(const ElevationLayerOptions& layer, const Config& mapOptions);
osg::ref_ptr<ImageSource> createTmsImageSource(const ImageLayerOptions& layer, const Config& mapOptions);
osg::ref_ptr<ElevationSource> createTmsElevationSource(const ElevationLayerOptions& layer, const Config& mapOptions);

} // namespace osgEarth::Terrain
