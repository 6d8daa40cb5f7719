#include <osgEarth/GeoData>

#include <algorithm>
#include <cmath>

using namespace osgEarth;

GeoExtent::GeoExtent(const SpatialReference* srs, double west, double south, double east, double north)
    : _srs(srs), _west(west), _south(south), _east(east), _north(north)
{}

bool GeoExtent::isValid() const
{
    return _srs.valid() && std::isfinite(_west) && std::isfinite(_south) && std::isfinite(_east) &&
           std::isfinite(_north) && _west <= _east && _south <= _north;
}

bool GeoExtent::contains(double x, double y) const
{
    return isValid() && x >= _west && x <= _east && y >= _south && y <= _north;
}

bool GeoExtent::contains(const GeoPoint& point) const
{
    if (!isValid() || !point.isValid())
        return false;
    GeoPoint local;
    return point.transform(_srs.get(), local) && contains(local.x(), local.y());
}

bool GeoExtent::getCentroid(double& x, double& y) const
{
    if (!isValid())
        return false;
    x = _west + 0.5 * width();
    y = _south + 0.5 * height();
    return true;
}

bool GeoExtent::isEquivalentTo(const GeoExtent& other) const
{
    if (!isValid() || !other.isValid() || !_srs->isEquivalentTo(other._srs.get()))
        return false;
    // Extents computed along different paths (tile arithmetic, parsing) differ in the last bits only.
    const double tolerance =
        1e-9 * std::max({1.0, std::fabs(_west), std::fabs(_east), std::fabs(_south), std::fabs(_north)});
    return std::fabs(_west - other._west) <= tolerance && std::fabs(_east - other._east) <= tolerance &&
           std::fabs(_south - other._south) <= tolerance && std::fabs(_north - other._north) <= tolerance;
}
