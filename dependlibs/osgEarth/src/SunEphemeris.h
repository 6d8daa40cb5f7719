#pragma once

#include <osgEarth/DateTime>

#include <osg/Vec3d>

namespace osgEarth {
namespace Util {

/// Where the sun stands at a moment, to a few hundredths of a degree between 1950 and 2050: ample for lighting.
struct SunPosition
{
    double rightAscension = 0.0; ///< radians, along the celestial equator from the vernal equinox
    double declination = 0.0;    ///< radians, north of the celestial equator
};

/// The sun's apparent equatorial coordinates from the low-precision solar theory of the nautical almanacs.
SunPosition sunPosition(const DateTime& when);

/// Greenwich mean sidereal time in radians, [0, 2π): the angle between the vernal equinox and the prime meridian.
double greenwichSiderealTime(const DateTime& when);

/// Unit vector from the earth's centre toward the sun in earth-fixed (ECEF) axes: +X through longitude 0 on the
/// equator, +Z through the north pole.
osg::Vec3d sunDirectionECEF(const DateTime& when);

} // namespace Util
} // namespace osgEarth
