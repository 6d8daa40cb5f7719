#pragma once

#include <osg/ref_ptr>
#include <osgDB/Options>

#include <functional>

namespace osgEarth::Features {

/// How features become geometry.
struct CompileOptions
{
    /// Longest span, in degrees, of any edge on a geographic map; larger polygons are cut into cells of this size
    /// so they follow the globe. Zero, negative or NaN turns subdivision off.
    double maxGranularity = 1.0;
    /// Whether each feature's primitive sets are tagged with its RefFeatureID.
    bool index = true;
    /// Terrain height at (longitude, latitude) for `terrain`/`relative` clamping; none means height 0.
    std::function<double(double lon, double lat)> elevation;
    /// Passed to osgDB when reading label icons and fonts (null: osgDB's defaults).
    osg::ref_ptr<const osgDB::Options> readOptions;
};

} // namespace osgEarth::Features
