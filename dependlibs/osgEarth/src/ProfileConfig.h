#pragma once

#include <osgEarth/Config>
#include <osgEarth/Profile>

#include <osg/ref_ptr>

#include <string>

namespace osgEarth {

/// The profile a `<profile>` element describes: a name as its text ("global-geodetic", "spherical-mercator") or the
/// attributes srs (and vdatum), xmin, ymin, xmax, ymax, num_tiles_wide_at_lod_0, num_tiles_high_at_lod_0; the bounds
/// may be left out for geographic and spherical-mercator systems. Null when it describes none we can build, with
/// the reason logged after `who`.
osg::ref_ptr<const Profile> profileFromConfig(const Config& conf, const std::string& who);

} // namespace osgEarth
