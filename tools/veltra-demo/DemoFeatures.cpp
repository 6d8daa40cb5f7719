#include "veltra-demo/DemoFeatures.h"

#include "veltra-demo/DemoGlobe.h"

#include <json/json.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace veltra::demo {

namespace {

constexpr double kPi = 3.141592653589793;
// WGS84, the demo globe's ellipsoid.
constexpr double kSemiMajor = 6378137.0;
constexpr double kEccentricitySquared = 6.69437999014e-3;
// Features float this far above the ground, enough to stay clear of the terrain's surface.
constexpr double kLift = 0.3;

/// A point of the site plan: metres east and north of the site's centre.
struct PlanPoint
{
    double east;
    double north;
};

/// Longitude, latitude and height of a plan point. Over a site a few hundred metres wide the ellipsoid's radii of
/// curvature at the centre are exact to well under a centimetre.
Json::Value coordinates(const PlanPoint& point)
{
    const DemoGlobeSite& site = demoGlobeSite();
    const double phi = site.latitude * kPi / 180.0;
    const double w = 1.0 - kEccentricitySquared * std::sin(phi) * std::sin(phi);
    const double meridian = kSemiMajor * (1.0 - kEccentricitySquared) / (w * std::sqrt(w));
    const double normal = kSemiMajor / std::sqrt(w);
    Json::Value lonLatHeight(Json::arrayValue);
    lonLatHeight.append(site.longitude + point.east / (normal * std::cos(phi)) * 180.0 / kPi);
    lonLatHeight.append(site.latitude + point.north / meridian * 180.0 / kPi);
    lonLatHeight.append(site.height + kLift);
    return lonLatHeight;
}

Json::Value line(const std::vector<PlanPoint>& points)
{
    Json::Value list(Json::arrayValue);
    for (const PlanPoint& point : points)
        list.append(coordinates(point));
    return list;
}

/// A closed ring: GeoJSON repeats the first point at the end.
Json::Value ring(std::vector<PlanPoint> points)
{
    points.push_back(points.front());
    return line(points);
}

Json::Value feature(int id, const std::string& name, const char* type, Json::Value geometryCoordinates)
{
    Json::Value item(Json::objectValue);
    item["type"] = "Feature";
    item["id"] = id;
    item["properties"]["name"] = name;
    item["geometry"]["type"] = type;
    item["geometry"]["coordinates"] = std::move(geometryCoordinates);
    return item;
}

Json::Value area(int id, const std::string& name, const std::vector<PlanPoint>& outline)
{
    Json::Value rings(Json::arrayValue);
    rings.append(ring(outline));
    return feature(id, name, "Polygon", rings);
}

Json::Value labelledPoint(int id, const std::string& name, const PlanPoint& where)
{
    Json::Value item = feature(id, name, "Point", coordinates(where));
    item["properties"]["label"] = name;
    return item;
}

std::string writeJson(const Json::Value& value, const char* indentation)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = indentation;
    // Seven decimals of a degree are about a centimetre; more only lengthens the text.
    builder["precision"] = 7;
    builder["precisionType"] = "decimal";
    return Json::writeString(builder, value) + "\n";
}

Json::Value styleObject()
{
    Json::Value style(Json::objectValue);
    style["fill"] = "#3d8bfd80";
    style["stroke"] = "#ffd23f";
    style["stroke-width"] = "3px";
    style["point-fill"] = "#ff5a36";
    style["point-size"] = "10";
    style["text-content"] = "[label]";
    style["text-size"] = "15";
    style["text-fill"] = "#ffffff";
    style["altitude-clamping"] = "none";
    return style;
}

/// A viewpoint as "setviewpoint" takes it: every member a text.
Json::Value viewpoint(const std::string& name, double longitude, double latitude, double heading, double pitch,
                      double range)
{
    const auto text = [](double value) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.10g", value); // 22000000, not 2.2e+07
        return std::string(digits);
    };
    Json::Value place(Json::objectValue);
    place["name"] = name;
    Json::Value& view = place["viewpoint"];
    view["long"] = text(longitude);
    view["lat"] = text(latitude);
    view["height"] = "0";
    view["heading"] = text(heading);
    view["pitch"] = text(pitch);
    view["range"] = text(range);
    view["time"] = "3";
    return place;
}

void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

const DemoGlobeSite& demoGlobeSite()
{
    // On the demo globe's Paris viewpoint, so that "Paris" shows the district around the site.
    static const DemoGlobeSite site = {2.3522, 48.8566, 0.0};
    return site;
}

std::string demoSiteFeaturesGeoJson()
{
    // The building stands on +-6.2 m around the centre with its crane mast 12 m east; everything here keeps clear
    // of it, and the areas do not overlap one another.
    Json::Value features(Json::arrayValue);
    features.append(area(1, "Material yard", {{18, -30}, {40, -30}, {40, -12}, {18, -12}}));
    features.append(area(2, "Site cabins", {{-40, 10}, {-20, 10}, {-20, 28}, {-40, 28}}));
    features.append(area(3, "Laydown area", {{-40, -30}, {-12, -30}, {-12, -20}, {-28, -20}, {-28, -8}, {-40, -8}}));
    features.append(feature(10, "Site fence", "LineString", ring({{-45, -35}, {45, -35}, {45, 35}, {-45, 35}})));
    features.append(feature(11, "Access road", "LineString", line({{0, -35}, {0, -70}, {60, -70}, {60, -110}})));
    features.append(feature(12, "Haul route", "LineString", line({{18, -21}, {8, -21}, {8, -9}})));
    features.append(labelledPoint(20, "Gate", {0, -35}));
    features.append(labelledPoint(21, "Site office", {-30, 19}));
    features.append(labelledPoint(22, "Tower crane", {12, 0}));
    features.append(labelledPoint(23, "Assembly point", {30, 20}));

    Json::Value collection(Json::objectValue);
    collection["type"] = "FeatureCollection";
    collection["features"] = features;
    return writeJson(collection, "");
}

std::string demoSiteLayerStyle()
{
    return writeJson(styleObject(), "");
}

std::string demoGlobePageJson()
{
    const DemoGlobeSite& site = demoGlobeSite();
    Json::Value page(Json::objectValue);
    page["earthFile"] = "world.earth";
    Json::Value& building = page["building"];
    for (double value : {site.longitude, site.latitude, site.height})
        building["position"].append(value);
    for (double value : {0.0, 0.0, 0.0})
        building["orientation"].append(value);
    Json::Value& layer = page["layer"];
    layer["name"] = "site";
    layer["style"] = styleObject();
    layer["features"] = "site.geojson";

    Json::Value& places = page["viewpoints"];
    places = Json::Value(Json::arrayValue);
    for (const DemoPlace& place : demoPlaces())
        places.append(viewpoint(place.name, place.longitude, place.latitude, place.heading, place.pitch, place.range));
    places.append(viewpoint("Building site", site.longitude, site.latitude, 30.0, -45.0, 260.0));
    places.append(viewpoint("Site from above", site.longitude, site.latitude, 0.0, -89.0, 320.0));
    return writeJson(page, "  ");
}

void writeDemoFeatures(const std::filesystem::path& folder)
{
    writeText(folder / "site.geojson", demoSiteFeaturesGeoJson());
    writeText(folder / "site.json", demoGlobePageJson());
}

} // namespace veltra::demo
