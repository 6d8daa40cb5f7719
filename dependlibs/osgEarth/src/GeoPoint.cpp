#include <osgEarth/GeoData>

using namespace osgEarth;

GeoPoint::GeoPoint(const SpatialReference* srs, double x, double y, double z, AltitudeMode mode)
    : _srs(srs), _p(x, y, z), _mode(mode)
{}

GeoPoint::GeoPoint(const SpatialReference* srs, double x, double y, double z) : GeoPoint(srs, x, y, z, ALTMODE_ABSOLUTE)
{}

// Without a height the only sensible reading is "on the ground", which only the terrain can resolve.
GeoPoint::GeoPoint(const SpatialReference* srs, double x, double y) : GeoPoint(srs, x, y, 0.0, ALTMODE_RELATIVE)
{}

GeoPoint::GeoPoint(const SpatialReference* srs, const osg::Vec3d& xyz, AltitudeMode mode)
    : _srs(srs), _p(xyz), _mode(mode)
{}

GeoPoint::GeoPoint(const SpatialReference* srs, const osg::Vec3d& xyz) : GeoPoint(srs, xyz, ALTMODE_ABSOLUTE)
{}

GeoPoint::GeoPoint(const SpatialReference* srs, const GeoPoint& other)
{
    other.transform(srs, *this);
}

void GeoPoint::set(const SpatialReference* srs, const osg::Vec3d& xyz, AltitudeMode mode)
{
    _srs = srs;
    _p = xyz;
    _mode = mode;
}

GeoPoint GeoPoint::transform(const SpatialReference* srs) const
{
    GeoPoint out;
    transform(srs, out);
    return out;
}

bool GeoPoint::transform(const SpatialReference* srs, GeoPoint& out) const
{
    osg::Vec3d xyz;
    if (!isValid() || !srs || !_srs->transform(_p, srs, xyz))
        return false;
    out.set(srs, xyz, _mode);
    return true;
}

bool GeoPoint::toWorld(osg::Vec3d& out) const
{
    if (!isValid() || _mode != ALTMODE_ABSOLUTE)
        return false;
    return _srs->transformToWorld(_p, out);
}

bool GeoPoint::fromWorld(const SpatialReference* srs, const osg::Vec3d& world)
{
    osg::Vec3d xyz;
    if (!srs || !srs->transformFromWorld(world, xyz))
        return false;
    set(srs, xyz, ALTMODE_ABSOLUTE);
    return true;
}

bool GeoPoint::createLocalToWorld(osg::Matrixd& out) const
{
    if (!isValid() || _mode != ALTMODE_ABSOLUTE)
        return false;
    return _srs->createLocalToWorld(_p, out);
}

bool GeoPoint::createWorldToLocal(osg::Matrixd& out) const
{
    osg::Matrixd localToWorld;
    if (!createLocalToWorld(localToWorld))
        return false;
    osg::Matrixd inverse;
    if (!inverse.invert(localToWorld))
        return false;
    out = inverse;
    return true;
}

double GeoPoint::distanceTo(const GeoPoint& other) const
{
    if (!isValid() || !other.isValid())
        return -1.0;
    GeoPoint there;
    if (!other.transform(_srs.get(), there))
        return -1.0;
    if (_srs->isProjected())
        return (there._p - _p).length();

    osg::Vec3d a, b;
    if (!_srs->transformToWorld(_p, a) || !_srs->transformToWorld(there._p, b))
        return -1.0;
    return (b - a).length();
}

bool GeoPoint::operator==(const GeoPoint& other) const
{
    if (isValid() != other.isValid())
        return false;
    if (!isValid())
        return true;
    return _mode == other._mode && _p == other._p && _srs->isEquivalentTo(other._srs.get());
}
