#include <osgEarth/Profile>
#include <osgEarth/StringUtils>
#include <osgEarth/TileKey>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

using namespace osgEarth;

namespace {

// Half the circumference of web mercator's sphere: the square world spans ±this on both axes.
constexpr double kMercatorHalfWorld = 20037508.34278925;
// Level 0 is meant to be a handful of tiles; far more means a mistake, and would make the root keys unbounded.
constexpr unsigned kMaxTilesAtLod0 = 1024;

unsigned scaledCount(unsigned base, unsigned lod)
{
    if (lod >= 32)
        return base == 0 ? 0 : UINT_MAX;
    const unsigned long long count = static_cast<unsigned long long>(base) << lod;
    return count > UINT_MAX ? UINT_MAX : static_cast<unsigned>(count);
}

} // namespace

Profile::Profile(const GeoExtent& extent, unsigned tilesWide, unsigned tilesHigh)
    : _extent(extent), _tilesWide(tilesWide), _tilesHigh(tilesHigh)
{}

Profile* Profile::create(const SpatialReference* srs, double xmin, double ymin, double xmax, double ymax,
                         unsigned numTilesWideAtLod0, unsigned numTilesHighAtLod0)
{
    GeoExtent extent(srs, xmin, ymin, xmax, ymax);
    if (!extent.isValid() || !(extent.width() > 0.0) || !(extent.height() > 0.0))
        return nullptr;
    if (numTilesWideAtLod0 == 0 || numTilesHighAtLod0 == 0)
    {
        // A whole-world geographic extent is twice as wide as it is high: two square tiles cover it.
        const bool geographic = srs->isGeographic();
        numTilesWideAtLod0 = geographic ? 2 : 1;
        numTilesHighAtLod0 = 1;
    }
    if (numTilesWideAtLod0 > kMaxTilesAtLod0 || numTilesHighAtLod0 > kMaxTilesAtLod0)
        return nullptr;
    return new Profile(extent, numTilesWideAtLod0, numTilesHighAtLod0);
}

Profile* Profile::create(const std::string& srsInit, double xmin, double ymin, double xmax, double ymax,
                         unsigned numTilesWideAtLod0, unsigned numTilesHighAtLod0)
{
    return create(SpatialReference::create(srsInit), xmin, ymin, xmax, ymax, numTilesWideAtLod0, numTilesHighAtLod0);
}

Profile* Profile::create(const std::string& name)
{
    const std::string key = toLower(trim(name));
    if (key == "global-geodetic")
        return create(SpatialReference::create("epsg:4326"), -180.0, -90.0, 180.0, 90.0, 2, 1);
    if (key == "spherical-mercator" || key == "global-mercator")
        return create(SpatialReference::create("spherical-mercator"), -kMercatorHalfWorld, -kMercatorHalfWorld,
                      kMercatorHalfWorld, kMercatorHalfWorld, 1, 1);
    return nullptr;
}

void Profile::getNumTiles(unsigned lod, unsigned& outWide, unsigned& outHigh) const
{
    outWide = scaledCount(_tilesWide, lod);
    outHigh = scaledCount(_tilesHigh, lod);
}

void Profile::getTileDimensions(unsigned lod, double& outWidth, double& outHeight) const
{
    // ldexp keeps the halving exact, however deep the level.
    outWidth = std::ldexp(_extent.width() / _tilesWide, -static_cast<int>(std::min(lod, 2000u)));
    outHeight = std::ldexp(_extent.height() / _tilesHigh, -static_cast<int>(std::min(lod, 2000u)));
}

void Profile::getRootKeys(std::vector<TileKey>& out) const
{
    out.clear();
    out.reserve(static_cast<size_t>(_tilesWide) * _tilesHigh);
    for (unsigned y = 0; y < _tilesHigh; ++y)
        for (unsigned x = 0; x < _tilesWide; ++x)
            out.emplace_back(0, x, y, this);
}

bool Profile::isEquivalentTo(const Profile* other) const
{
    if (!other)
        return false;
    if (other == this)
        return true;
    return _tilesWide == other->_tilesWide && _tilesHigh == other->_tilesHigh && _extent.isEquivalentTo(other->_extent);
}
