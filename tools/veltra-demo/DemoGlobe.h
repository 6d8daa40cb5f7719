#pragma once

#include "veltra-demo/DemoWorldRaster.h"

#include <filesystem>
#include <string>
#include <vector>

namespace veltra::demo {

/// The demo globe's viewpoints, in the order the earth file lists them.
struct DemoPlace
{
    std::string name;
    double longitude;
    double latitude;
    double heading;
    double pitch;
    double range; // metres
};

/// The first place shows the whole globe; the others are cities close enough to see the terrain page in.
const std::vector<DemoPlace>& demoPlaces();

/// The demo earth file: a geocentric map named "Veltra demo world" with one image layer "world" (gdal, world.tif
/// beside the file), terrain tiles switching in at six half-diagonals, and an `<external>` block with a simple sky
/// at 12:00 UTC (ambient 0.2) and the viewpoints of demoPlaces().
std::string demoEarthFileText();

/// What writeDemoGlobe wrote.
struct DemoGlobeFiles
{
    std::filesystem::path earthFile;
    std::filesystem::path worldRaster;
    WorldRasterSource source = WorldRasterSource::Generated;
};

/// Writes `folder`/world.earth and `folder`/world.tif (see writeWorldRaster; `photograph` is the picture to use when
/// it can be read). Creates the folder when missing. Throws std::runtime_error naming what could not be written.
DemoGlobeFiles writeDemoGlobe(const std::filesystem::path& folder,
                              const std::filesystem::path& photograph = kEarthPhotograph);

} // namespace veltra::demo
