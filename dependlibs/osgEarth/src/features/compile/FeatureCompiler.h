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
/// primitive set per geometry, tagged with its RefFeatureID when indexing. Text and icons are not drawn here.
/// Null when nothing could be drawn (no SRS, no valid geometry). Runs on whichever thread builds the tile.
OSGEARTH_EXPORT osg::ref_ptr<osg::Node> compileFeatures(const FeatureList& features, const Symbology::Style& style,
                                                        const SpatialReference* mapSRS,
                                                        const CompileOptions& options = {});

} // namespace osgEarth::Features
