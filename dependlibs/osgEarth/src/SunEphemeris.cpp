#include "SunEphemeris.h"

#include <cmath>

namespace osgEarth {
namespace Util {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegrees = kPi / 180.0;

double wrapRadians(double angle)
{
    const double wrapped = std::fmod(angle, 2.0 * kPi);
    return wrapped < 0.0 ? wrapped + 2.0 * kPi : wrapped;
}

} // namespace

SunPosition sunPosition(const DateTime& when)
{
    const double n = when.getDaysSinceJ2000();
    const double meanLongitude = (280.460 + 0.9856474 * n) * kDegrees;
    const double meanAnomaly = (357.528 + 0.9856003 * n) * kDegrees;
    // The equation of centre: the eccentric orbit runs ahead of, then behind, the mean sun.
    const double eclipticLongitude =
        meanLongitude + (1.915 * std::sin(meanAnomaly) + 0.020 * std::sin(2.0 * meanAnomaly)) * kDegrees;
    const double obliquity = (23.439 - 0.0000004 * n) * kDegrees;

    SunPosition position;
    position.rightAscension =
        wrapRadians(std::atan2(std::cos(obliquity) * std::sin(eclipticLongitude), std::cos(eclipticLongitude)));
    position.declination = std::asin(std::sin(obliquity) * std::sin(eclipticLongitude));
    return position;
}

double greenwichSiderealTime(const DateTime& when)
{
    const double n = when.getDaysSinceJ2000();
    const double hours = 18.697374558 + 24.06570982441908 * n;
    return wrapRadians(hours * 15.0 * kDegrees);
}

osg::Vec3d sunDirectionECEF(const DateTime& when)
{
    const SunPosition sun = sunPosition(when);
    // The earth turns under the sky: the longitude below the sun is its right ascension less the sidereal angle.
    const double longitude = sun.rightAscension - greenwichSiderealTime(when);
    const double cosDec = std::cos(sun.declination);
    return osg::Vec3d(cosDec * std::cos(longitude), cosDec * std::sin(longitude), std::sin(sun.declination));
}

} // namespace Util
} // namespace osgEarth
