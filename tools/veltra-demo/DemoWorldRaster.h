#pragma once

#include <filesystem>

namespace veltra::demo {

/// Where Debian's xplanet-images package puts its photograph of the whole Earth (2048 × 1024, plate carrée,
/// NASA Visible Earth, public domain).
inline const char* const kEarthPhotograph = "/usr/share/xplanet/images/earth.jpg";

/// How a world raster was made.
enum class WorldRasterSource
{
    Photograph, // the given photograph, georeferenced as the whole world
    Generated   // our own ocean and latitude-band colouring with a 15-degree graticule
};

/// Writes a GeoTIFF covering the whole world (EPSG:4326, west -180, north 90, east 180, south -90), tiled, with
/// overviews. From `photograph` when that file can be read as an RGB image whose width is twice its height (JPEG
/// compressed); otherwise, so that the demo is always complete, a generated 1024 × 512 raster (DEFLATE compressed).
/// An unreadable or ill-shaped photograph falls back with a warning through OpenSceneGraph's notify. Throws
/// std::runtime_error naming `path` when it cannot be written.
WorldRasterSource writeWorldRaster(const std::filesystem::path& path, const std::filesystem::path& photograph);

} // namespace veltra::demo
