#pragma once

#include <filesystem>

namespace veltra::demo {

/// Writes the demo site into `folder` (created when missing): the building, its schedule and
/// binding (see writeDemoBuilding), index.html with demo.css and demo.js, the globe page globe.html
/// with globe.js, a sky box (sky/posX.jpg ... sky/negZ.jpg), background.png for the page's sky and
/// background buttons, and the demo globe (globe/world.earth with its world raster, see
/// writeDemoGlobe, and the building site's globe/site.json and globe/site.geojson, see
/// writeDemoFeatures). Throws std::runtime_error naming the file that could not be written.
void writeDemoSite(const std::filesystem::path& folder);

} // namespace veltra::demo
