#pragma once

#include <osgEarthFeatures/FeatureSource>

namespace osgEarth::Features {

/// The "tfs" driver: tiled GeoJSON over HTTP, described by a metadata document.
FeatureSource* createTfsFeatureSource(const FeatureSourceOptions& options);

/// The "ogr" driver: a local vector file read whole through GDAL.
FeatureSource* createOgrFeatureSource(const FeatureSourceOptions& options);

} // namespace osgEarth::Features
