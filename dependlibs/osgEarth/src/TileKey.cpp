#include <osgEarth/TileKey>

#include <climits>
#include <tuple>

using namespace osgEarth;

TileKey::TileKey(unsigned lod, unsigned x, unsigned y, const Profile* profile)
{
    if (!profile)
        return;
    unsigned wide = 0, high = 0;
    profile->getNumTiles(lod, wide, high);
    // A saturated count means the grid no longer fits our indices; such a level has no valid keys.
    if (x >= wide || y >= high || wide == UINT_MAX || high == UINT_MAX)
        return;
    _lod = lod;
    _x = x;
    _y = y;
    _profile = profile;
}

void TileKey::getTileXY(unsigned& outX, unsigned& outY) const
{
    outX = _x;
    outY = _y;
}

std::string TileKey::str() const
{
    if (!isValid())
        return "invalid";
    return std::to_string(_lod) + '/' + std::to_string(_x) + '/' + std::to_string(_y);
}

GeoExtent TileKey::getExtent() const
{
    if (!isValid())
        return GeoExtent();
    double width = 0.0, height = 0.0;
    _profile->getTileDimensions(_lod, width, height);
    const GeoExtent& whole = _profile->getExtent();
    // Edges computed from the index on both sides so that neighbours share them bit for bit.
    const double west = whole.xMin() + width * _x;
    const double east = whole.xMin() + width * (_x + 1.0);
    const double north = whole.yMax() - height * _y;
    const double south = whole.yMax() - height * (_y + 1.0);
    return GeoExtent(whole.getSRS(), west, south, east, north);
}

TileKey TileKey::createChildKey(unsigned quadrant) const
{
    if (!isValid() || quadrant > 3)
        return TileKey();
    const unsigned x = _x * 2 + (quadrant & 1u);
    const unsigned y = _y * 2 + (quadrant >> 1);
    return TileKey(_lod + 1, x, y, _profile.get());
}

TileKey TileKey::createParentKey() const
{
    if (!isValid() || _lod == 0)
        return TileKey();
    return TileKey(_lod - 1, _x / 2, _y / 2, _profile.get());
}

bool TileKey::operator==(const TileKey& other) const
{
    if (isValid() != other.isValid())
        return false;
    if (!isValid())
        return true;
    return _lod == other._lod && _x == other._x && _y == other._y && _profile->isEquivalentTo(other._profile.get());
}

bool TileKey::operator<(const TileKey& other) const
{
    const bool valid = isValid(), otherValid = other.isValid();
    return std::tie(valid, _lod, _x, _y) < std::tie(otherValid, other._lod, other._x, other._y);
}
