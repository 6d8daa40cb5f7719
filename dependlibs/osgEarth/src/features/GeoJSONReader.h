#pragma once

#include <VeltraGlobe/VeltraGlobeExport.h>

#include <osgEarthFeatures/Feature>

#include <cstddef>
#include <string>

namespace osgEarth::Features {

/// Texts longer than this are refused before GDAL sees them, so one request cannot exhaust memory.
constexpr std::size_t maxGeoJSONBytes = std::size_t(64) << 20;

/// Reads a GeoJSON text (a FeatureCollection, a single Feature or a bare geometry) into features, through GDAL's OGR.
///
/// All or nothing: on any fault the text is refused as a whole, `out` is left as it was, `error` says why, a warning
/// is logged and the result is false. Faults: text that OGR cannot read (malformed, truncated, too deeply nested),
/// a text over maxGeoJSONBytes, a feature without a geometry or whose geometry (or a part of it) has an unknown
/// type, a geometry with too few points for its type (see Geometry::isValid), a non-finite coordinate, a longitude
/// outside [-180, 180] or latitude outside [-90, 90] when the text's coordinate system is geographic (the GeoJSON
/// default), and an `id` member that is not a non-negative integer.
///
/// Feature ids: a feature's own `id` member when it has one, given as a JSON number or as a text of decimal digits
/// that fits a FeatureID; otherwise the feature's 0-based position in the text (what OGR itself numbers GeoJSON
/// features by). An `id` inside `properties` stays an attribute and never becomes the id. Ids are not checked for
/// uniqueness.
///
/// Geometry: MultiPoint becomes one PointSet; MultiLineString, MultiPolygon and GeometryCollection become a
/// MultiGeometry of their parts; ring closing points are dropped (Ring is implicitly closed); a missing height is 0.
/// Attributes: JSON booleans as bool, integers as int (as double when they do not fit), other numbers as double,
/// null properties are left out, and everything else (texts, arrays, objects) as OGR's text for it.
///
/// Thread-safe; any thread.
OSGEARTH_EXPORT bool readGeoJSON(const std::string& text, FeatureList& out, std::string& error);

} // namespace osgEarth::Features
