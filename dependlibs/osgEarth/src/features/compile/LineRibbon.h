#pragma once

#include <VeltraGlobe/VeltraGlobeExport.h>

#include <osg/Vec3d>

#include <vector>

namespace osgEarth::Features {

/// A line widened into a band of triangles: two vertices per line vertex (left, then right of the direction of
/// travel) and index triples into them.
struct LineRibbon
{
    std::vector<osg::Vec3d> vertices;
    std::vector<unsigned> triangles;
};

/// Widens `line` into a ribbon `width` across, centred on the line, in the line's own units (metres for world
/// positions). Each vertex moves within the plane tangent to the ground there (`up[i]` is the ground's normal at
/// `line[i]`), perpendicular to its segments; where segments meet the edges meet in a mitre, cut short at
/// kMitreLimit half-widths on sharp turns. A line whose last point repeats its first is joined all round.
/// Repeated points are skipped. Empty when `up` does not match `line`, fewer than two distinct points remain, or
/// `width` is not finite and positive.
OSGEARTH_EXPORT LineRibbon buildRibbon(const std::vector<osg::Vec3d>& line, const std::vector<osg::Vec3d>& up,
                                       double width);

/// How far, in half-widths, a mitre may reach out from its vertex.
constexpr double kMitreLimit = 4.0;

} // namespace osgEarth::Features
