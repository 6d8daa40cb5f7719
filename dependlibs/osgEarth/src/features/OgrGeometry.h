#pragma once

#include <osgEarthFeatures/Feature>
#include <osgEarthSymbology/Geometry>

#include <osg/ref_ptr>

#include <string>

class OGRFeature;
class OGRGeometry;

namespace osgEarth::Features::Ogr {

/// Registers GDAL's drivers once per process; any thread.
void ensureDrivers();

/// Silences GDAL's stderr handler on this thread while alive, so the caller reports the reason itself. The handler
/// stack is per thread, so other threads keep theirs.
class QuietGdalErrors
{
public:
    QuietGdalErrors();
    ~QuietGdalErrors();
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;

    /// ": <GDAL's last message>", or "" when it left none.
    std::string lastMessage() const;
};

/// Our geometry for an OGR geometry: MultiPoint becomes a PointSet, the other multi kinds and collections a
/// MultiGeometry, ring closing points are dropped and a missing height is 0. Null with `error` set for an empty or
/// unsupported geometry, too few points, a non-finite coordinate, or (when `geographic`) a longitude or latitude out
/// of range.
osg::ref_ptr<Symbology::Geometry> toGeometry(const OGRGeometry* source, bool geographic, std::string& error);

/// Copies the set, non-null fields of `source` into `target`: booleans as bool, integers as int (as double when
/// they do not fit), reals as double, everything else as OGR's text for it.
void copyAttributes(const OGRFeature& source, Feature& target);

} // namespace osgEarth::Features::Ogr
