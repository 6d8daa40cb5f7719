#pragma once

#include <filesystem>
#include <string>

namespace veltra::demo {

/// Where the demo building stands on the demo globe. The building's model frame is the east-north-up frame at this
/// point, unturned; the site's features are laid out in the same frame.
struct DemoGlobeSite
{
    double longitude; // degrees
    double latitude;  // degrees
    double height;    // metres
};

const DemoGlobeSite& demoGlobeSite();

/// The site's features as a GeoJSON FeatureCollection: areas (polygons: a material yard, site cabins, an L-shaped
/// laydown area), lines (the site fence, the access road, the haul route) and labelled points (the gate, the site
/// office, the tower crane, the assembly point). Every feature has a whole-number "id" and a "name"; points also
/// carry the "label" the layer's style writes beside them. Coordinates are longitude, latitude and a height a little
/// above the ground, so the areas do not fight with the terrain's surface.
std::string demoSiteFeaturesGeoJson();

/// The feature layer's style: a JSON object of drawing properties (fill, stroke, point and text), each a text value.
std::string demoSiteLayerStyle();

/// The globe page's description (site.json): the earth file, the building's position and turn, the feature layer
/// (name, style as an object, features file) and the named viewpoints the page flies between, each in the form
/// "setviewpoint" takes with a flight "time" of 3 seconds: the demo globe's places, then two views of the site.
std::string demoGlobePageJson();

/// Writes `folder`/site.geojson and `folder`/site.json (the folder must exist; it is the demo globe's folder, next to
/// world.earth). Throws std::runtime_error naming the file that could not be written.
void writeDemoFeatures(const std::filesystem::path& folder);

} // namespace veltra::demo
