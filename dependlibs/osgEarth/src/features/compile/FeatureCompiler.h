#pragma once

#include "CompileOptions.h"

#include <osgEarth/SpatialReference>
#include <osgEarthFeatures/Feature>
#include <osgEarthSymbology/Style>

#include <osg/Node>
#include <osg/ref_ptr>

namespace osgEarth::Features {

/// Turns `features` drawn with `style` into a few merged geometries under a transform to a local origin
/// (world coordinates are ECEF on a geographic map, the coordinates themselves otherwise). Each feature adds one
/// primitive set per geometry, tagged with its RefFeatureID when indexing. Lines with a `stroke-width` in metres
/// become ribbons of triangles that wide on the ground; other widths are GL line widths in pixels.
/// With `text-content` or `icon` in the style each feature also gets its own screen-space marker node, a child of
/// the same transform placed at the feature's anchor (see labelAnchor) and tagged with the RefFeatureID itself;
/// such a style draws the features' geometry only where it also has a geometry symbol for it.
/// Null when nothing could be drawn (no SRS, no valid geometry). Runs on whichever thread builds the tile.
OSGEARTH_EXPORT osg::ref_ptr<osg::Node> compileFeatures(const FeatureList& features, const Symbology::Style& style,
                                                        const SpatialReference* mapSRS,
                                                        const CompileOptions& options = {});

} // namespace osgEarth::Features
