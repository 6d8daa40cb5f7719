#pragma once

#include <VeltraGlobe/VeltraGlobeExport.h>

#include <osg/Vec2d>
#include <osg/Vec3d>

#include <vector>

namespace osgEarth::Features {

/// A triangulated area in longitude/latitude (or map x/y): points and index triples.
struct PolygonMesh
{
    std::vector<osg::Vec2d> points;
    std::vector<unsigned> triangles;
};

using Ring2d = std::vector<osg::Vec2d>;

/// Triangulates an outer ring with holes (odd winding). With `cellSize` > 0 the area is first cut into a grid of
/// cells that size, so no triangle edge is longer than cellSize * sqrt(2) and large areas gain interior vertices.
/// Degenerate input yields an empty mesh.
OSGEARTH_EXPORT PolygonMesh triangulatePolygon(const Ring2d& outer, const std::vector<Ring2d>& holes, double cellSize);

/// `line` with points added (heights interpolated) so that no segment is longer than `maxStep` in x/y; a closed
/// line also gets its closing segment and ends where it started. No change when maxStep <= 0.
OSGEARTH_EXPORT std::vector<osg::Vec3d> densify(const std::vector<osg::Vec3d>& line, double maxStep, bool closed);

} // namespace osgEarth::Features
