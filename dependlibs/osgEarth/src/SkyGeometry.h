#pragma once

#include <osg/Camera>
#include <osg/Geometry>
#include <osg/Uniform>
#include <osg/ref_ptr>

#include <cstdint>

namespace osgEarth {
namespace Util {

/// A camera nested in the main one that draws its children first, without depth tests or writes, and with its own
/// near/far range, so that far-away sky elements neither clip nor spoil the terrain's depth precision. It adds
/// nothing to its parent's bounding sphere, so the sky never enlarges the scene's home view.
osg::ref_ptr<osg::Camera> makeSkyCamera(int renderBin);

/// A closed ellipsoid surface centred on the origin with outward normals, `slices` around and `stacks` pole to pole.
osg::ref_ptr<osg::Geometry> makeEllipsoid(double equatorRadius, double polarRadius, unsigned slices, unsigned stacks);

/// The atmosphere shell: a blue, alpha-blended ellipsoid whose rim glows and whose night side fades.
/// `sunDirection` (vec3, earth-fixed unit vector) is the uniform that steers the day/night fade.
osg::ref_ptr<osg::Geometry> makeAtmosphere(double equatorRadius, double polarRadius, osg::Uniform* sunDirection);

/// A small bright sphere of `radius` around the origin, to be moved where the sun is.
osg::ref_ptr<osg::Geometry> makeSunDisc(double radius);

/// `count` stars as points on a sphere of `radius`, in celestial axes (+X toward the vernal equinox, +Z north).
/// The same seed always gives the same sky.
osg::ref_ptr<osg::Geometry> makeStarField(unsigned count, double radius, std::uint32_t seed);

} // namespace Util
} // namespace osgEarth
