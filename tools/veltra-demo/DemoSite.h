#pragma once

#include <filesystem>
#include <string>

namespace veltra::demo {

/// Writes the demo site into `folder` (created when missing): the building, its schedule and
/// binding (see writeDemoBuilding), index.html with demo.css and demo.js, the globe page globe.html
/// with globe.js, a sky box (sky/posX.jpg ... sky/negZ.jpg), background.png for the page's sky and
/// background buttons, and the demo globe (globe/world.earth with its world raster, see
/// writeDemoGlobe, and the building site's globe/site.json and globe/site.geojson, see
/// writeDemoFeatures). Throws std::runtime_error naming the file that could not be written.
/// Also writes the demo's project.json (see ProjectSite.h), so the page finds the building the
/// same way it finds a user's model.
void writeDemoSite(const std::filesystem::path& folder);

/// The page files that the demo and a project site share: index.html, demo.css, demo.js, the sky
/// box under sky/ and background.png. Throws like writeDemoSite.
void writePageFiles(const std::filesystem::path& folder);

/// Writes `text` to `path`, replacing it; throws std::runtime_error naming the file on failure.
void writeTextFile(const std::filesystem::path& path, const std::string& text);

} // namespace veltra::demo
