#pragma once

#include "TerrainSources.h"
#include "TileService.h"

namespace osgEarth::Terrain {

/// Imagery of a tile service resampled onto the map's tiles: the service level whose pixels match the key's, the
/// covering tiles fetched and reprojected into the key's grid; transparent where the service has nothing.
osg::ref_ptr<ImageSource> createTileServiceImageSource(TileService* service);

/// Heights of a tile service sampled at the map tile's posts (the service's content must be Elevation).
osg::ref_ptr<ElevationSource> createTileServiceElevationSource(TileService* service);

} // namespace osgEarth::Terrain
