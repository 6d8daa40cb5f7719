#pragma once

#include <osgEarth/GeoData>

#include <osg/Vec2d>

namespace osgEarth::Terrain {

/// Where point (col, row) of a cols × rows grid over `extent` lies, in the extent's coordinates, row 0 along the
/// north. With `pixelCentres` the points are the centres of cols × rows cells (an image); otherwise they are posts,
/// the first and last on the extent's edges (a mesh), and a single post sits in the middle.
inline osg::Vec2d gridPoint(const GeoExtent& extent, unsigned col, unsigned row, unsigned cols, unsigned rows,
                            bool pixelCentres)
{
    const double u = pixelCentres ? (col + 0.5) / cols : (cols > 1 ? double(col) / (cols - 1) : 0.5);
    const double v = pixelCentres ? (row + 0.5) / rows : (rows > 1 ? double(row) / (rows - 1) : 0.5);
    return osg::Vec2d(extent.west() + u * extent.width(), extent.north() - v * extent.height());
}

} // namespace osgEarth::Terrain
