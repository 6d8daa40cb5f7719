#include "TileServiceSources.h"

#include "SampleGrid.h"

#include <osg/Notify>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace osgEarth::Terrain {

namespace {

// A map tile never needs more service tiles than this at a matching level; more means the service's levels do
// not reach down to the key's resolution (a min level far too fine), and fetching them all would stall the pager.
constexpr size_t maxTilesPerKey = 64;

// Where the points of a grid over a key land on the service's tiles at one level, in tile units from the north-west
// corner of the service's profile (NaN for points outside what the service covers).
struct ServicePoints
{
    unsigned level = 0;
    unsigned tilesWide = 0;
    unsigned tilesHigh = 0;
    std::vector<double> fx, fy;
};

bool inside(const GeoExtent& extent, double x, double y)
{
    return x >= extent.west() && x <= extent.east() && y >= extent.south() && y <= extent.north();
}

// `samplesAcross` is how many samples over the key's width the level should resolve: the output size for
// imagery; for heights the service's tile size, since a few posts must not pull hundreds of fine tiles.
bool locatePoints(const TileService& service, const TileKey& key, unsigned cols, unsigned rows, bool pixelCentres,
                  unsigned samplesAcross, ServicePoints& out)
{
    const GeoExtent extent = key.getExtent();
    const SpatialReference* mapSRS = extent.getSRS();
    const Profile* profile = service.profile();
    const SpatialReference* serviceSRS = profile->getSRS();
    const bool sameSRS = mapSRS->isEquivalentTo(serviceSRS);
    const GeoExtent& covered = profile->getExtent();
    const GeoExtent& data = service.settings().dataExtent;

    // Transforms may clamp rather than fail (latitudes beyond mercator's reach land on its edge), so points are
    // also held against the service's extent as seen in the map's SRS.
    const GeoExtent& reach = data.isValid() ? data : covered;
    double mapWest = -std::numeric_limits<double>::max(), mapSouth = mapWest;
    double mapEast = std::numeric_limits<double>::max(), mapNorth = mapEast;
    if (!sameSRS)
    {
        double x0 = reach.west(), y0 = reach.south(), x1 = reach.east(), y1 = reach.north();
        if (serviceSRS->transform2D(x0, y0, mapSRS, x0, y0) && serviceSRS->transform2D(x1, y1, mapSRS, x1, y1) &&
            std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))
        {
            mapWest = std::min(x0, x1);
            mapEast = std::max(x0, x1);
            mapSouth = std::min(y0, y1);
            mapNorth = std::max(y0, y1);
        }
    }

    const size_t count = size_t(cols) * rows;
    std::vector<double> sx(count, std::nan("")), sy(count, std::nan(""));
    double minX = std::numeric_limits<double>::max(), maxX = std::numeric_limits<double>::lowest();
    unsigned minCol = cols, maxCol = 0;
    for (unsigned r = 0; r < rows; ++r)
    {
        for (unsigned c = 0; c < cols; ++c)
        {
            const osg::Vec2d point = gridPoint(extent, c, r, cols, rows, pixelCentres);
            double x = point.x(), y = point.y();
            if (x < mapWest || x > mapEast || y < mapSouth || y > mapNorth)
            {
                continue;
            }
            if (!sameSRS && !mapSRS->transform2D(x, y, serviceSRS, x, y))
            {
                continue;
            }
            if (!std::isfinite(x) || !std::isfinite(y) || !inside(covered, x, y) ||
                (data.isValid() && !inside(data, x, y)))
            {
                continue;
            }
            const size_t i = size_t(r) * cols + c;
            sx[i] = x;
            sy[i] = y;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minCol = std::min(minCol, c);
            maxCol = std::max(maxCol, c);
        }
    }
    if (minCol > maxCol)
    {
        return false;
    }

    // Service units per grid step along x, measured where the grid lands; when it lands in one column only, the
    // ratio of the profiles' widths is a fair guess (exact between geographic and mercator).
    const double mapStep = extent.width() / (pixelCentres ? cols : std::max(1u, cols - 1));
    double step = maxCol > minCol ? (maxX - minX) / (maxCol - minCol)
                                  : mapStep * covered.width() / key.getProfile()->getExtent().width();
    const double steps = pixelCentres ? cols : std::max(1u, cols - 1);
    out.level = service.levelFor(step * steps / std::max(1u, samplesAcross));

    double tileWidth = 0, tileHeight = 0;
    profile->getTileDimensions(out.level, tileWidth, tileHeight);
    profile->getNumTiles(out.level, out.tilesWide, out.tilesHigh);
    out.fx.assign(count, std::nan(""));
    out.fy.assign(count, std::nan(""));
    for (size_t i = 0; i < count; ++i)
    {
        if (std::isfinite(sx[i]))
        {
            out.fx[i] = std::clamp((sx[i] - covered.west()) / tileWidth, 0.0, double(out.tilesWide) - 1e-9);
            out.fy[i] = std::clamp((covered.north() - sy[i]) / tileHeight, 0.0, double(out.tilesHigh) - 1e-9);
        }
    }
    return true;
}

// The four texels around a point, in the order (c0, r0), (c0 + 1, r0), (c0, r0 + 1), (c0 + 1, r0 + 1), each with its
// bilinear weight.
struct BilinearTaps
{
    const DecodedTile* tile[4];
    size_t index[4];
    double weight[4];
};

// The service tiles one key needs, fetched once; texel lookups near a tile's edge step into a neighbour when it
// is among them and otherwise clamp, so sampling never fetches beyond the key's own footprint.
class TileWindow
{
public:
    TileWindow(TileService& service, const ServicePoints& points) : _service(service), _points(points) {}

    // False when the key needs too many tiles; otherwise fetches every tile a point falls on.
    bool fetch()
    {
        std::map<std::pair<unsigned, unsigned>, bool> needed;
        for (size_t i = 0; i < _points.fx.size(); ++i)
        {
            if (std::isfinite(_points.fx[i]))
            {
                needed[{unsigned(_points.fx[i]), unsigned(_points.fy[i])}] = true;
                if (needed.size() > maxTilesPerKey)
                {
                    return false;
                }
            }
        }
        for (const auto& entry : needed)
        {
            _tiles[entry.first] = _service.tile(_points.level, entry.first.first, entry.first.second);
        }
        return true;
    }

    // The texels bilinear sampling of point i reads; false when its tile could not be had.
    bool taps(size_t i, BilinearTaps& out) const
    {
        unsigned tx = 0, ty = 0;
        double px = 0, py = 0;
        if (!locate(i, tx, ty, px, py))
        {
            return false;
        }
        const int c0 = int(std::floor(px)), r0 = int(std::floor(py));
        const double fx = px - c0, fy = py - r0;
        const double weights[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
        for (int k = 0; k < 4; ++k)
        {
            out.tile[k] = texel(tx, ty, c0 + (k & 1), r0 + (k >> 1), out.index[k]);
            out.weight[k] = weights[k];
        }
        return true;
    }

private:
    // The tile holding point i and the point's texel coordinates in it (texel centres on integers).
    const DecodedTile* locate(size_t i, unsigned& tx, unsigned& ty, double& px, double& py) const
    {
        tx = unsigned(_points.fx[i]);
        ty = unsigned(_points.fy[i]);
        const DecodedTile* tile = find(tx, ty);
        if (tile)
        {
            px = (_points.fx[i] - tx) * tile->width - 0.5;
            py = (_points.fy[i] - ty) * tile->height - 0.5;
        }
        return tile;
    }

    // Texel (col, row) relative to tile (tx, ty), possibly one step into a neighbour; returns the tile and the
    // texel's index in it.
    const DecodedTile* texel(unsigned tx, unsigned ty, int col, int row, size_t& index) const
    {
        const DecodedTile* base = find(tx, ty);
        const int w = int(base->width), h = int(base->height);
        const int dx = col < 0 ? -1 : (col >= w ? 1 : 0);
        const int dy = row < 0 ? -1 : (row >= h ? 1 : 0);
        const DecodedTile* tile = base;
        if (dx != 0 || dy != 0)
        {
            const DecodedTile* neighbour = find(unsigned(int(tx) + dx), unsigned(int(ty) + dy));
            if (neighbour && neighbour->width == base->width && neighbour->height == base->height)
            {
                tile = neighbour;
                col -= dx * w;
                row -= dy * h;
            }
        }
        col = std::clamp(col, 0, w - 1);
        row = std::clamp(row, 0, h - 1);
        index = size_t(row) * tile->width + size_t(col);
        return tile;
    }

    const DecodedTile* find(unsigned tx, unsigned ty) const
    {
        auto found = _tiles.find({tx, ty});
        return found == _tiles.end() ? nullptr : found->second.get();
    }

    TileService& _service;
    const ServicePoints& _points;
    std::map<std::pair<unsigned, unsigned>, osg::ref_ptr<const DecodedTile>> _tiles;
};

class TileServiceImageSource : public ImageSource
{
public:
    explicit TileServiceImageSource(TileService* service) : _service(service) {}

    osg::ref_ptr<osg::Image> createImage(const TileKey& key, unsigned size) override
    {
        ServicePoints points;
        if (size == 0 || !locatePoints(*_service, key, size, size, true, size, points))
        {
            return nullptr;
        }
        TileWindow window(*_service, points);
        if (!window.fetch())
        {
            OSG_INFO << "[TileService] " << key.str() << " would need too many tiles of layer \""
                     << _service->settings().layerName << "\"; left empty" << std::endl;
            return nullptr;
        }
        osg::ref_ptr<osg::Image> image = new osg::Image();
        image->allocateImage(int(size), int(size), 1, GL_RGBA, GL_UNSIGNED_BYTE);
        std::fill_n(image->data(), size_t(size) * size * 4, static_cast<unsigned char>(0));
        bool any = false;
        for (unsigned r = 0; r < size; ++r)
        {
            // Points run from the north; the image's row 0 is the south edge.
            unsigned char* row = image->data(0, int(size - 1 - r));
            for (unsigned c = 0; c < size; ++c)
            {
                const size_t i = size_t(r) * size + c;
                if (std::isfinite(points.fx[i]) && sample(window, i, row + c * 4))
                {
                    any = true;
                }
            }
        }
        return any ? image : nullptr;
    }

private:
    static bool sample(const TileWindow& window, size_t i, unsigned char* out)
    {
        BilinearTaps taps;
        if (!window.taps(i, taps))
        {
            return false;
        }
        double sum[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4; ++k)
        {
            for (int ch = 0; ch < 4; ++ch)
            {
                sum[ch] += taps.weight[k] * taps.tile[k]->rgba[taps.index[k] * 4 + size_t(ch)];
            }
        }
        for (int ch = 0; ch < 4; ++ch)
        {
            out[ch] = static_cast<unsigned char>(std::clamp(std::lround(sum[ch]), 0L, 255L));
        }
        return true;
    }

    osg::ref_ptr<TileService> _service;
};

class TileServiceElevationSource : public ElevationSource
{
public:
    explicit TileServiceElevationSource(TileService* service) : _service(service) {}

    bool sampleHeights(const TileKey& key, unsigned posts, std::vector<float>& heights,
                       std::vector<bool>& valid) override
    {
        heights.assign(size_t(posts) * posts, 0.0f);
        valid.assign(size_t(posts) * posts, false);
        ServicePoints points;
        if (posts == 0 || !locatePoints(*_service, key, posts, posts, false, _service->settings().tileSize, points))
        {
            return false;
        }
        TileWindow window(*_service, points);
        if (!window.fetch())
        {
            return false;
        }
        bool any = false;
        for (size_t i = 0; i < heights.size(); ++i)
        {
            if (std::isfinite(points.fx[i]) && sample(window, i, heights[i]))
            {
                valid[i] = true;
                any = true;
            }
        }
        return any;
    }

private:
    // Bilinear where all four neighbours have data, else the nearest one that has.
    static bool sample(const TileWindow& window, size_t i, float& out)
    {
        BilinearTaps taps;
        if (!window.taps(i, taps))
        {
            return false;
        }
        double sum = 0, best = -1;
        bool complete = true;
        float nearest = 0;
        for (int k = 0; k < 4; ++k)
        {
            const float h = taps.tile[k]->heights[taps.index[k]];
            if (!std::isfinite(h))
            {
                complete = false;
                continue;
            }
            sum += taps.weight[k] * h;
            if (taps.weight[k] > best)
            {
                best = taps.weight[k];
                nearest = h;
            }
        }
        if (best < 0)
        {
            return false;
        }
        out = complete ? float(sum) : nearest;
        return true;
    }

    osg::ref_ptr<TileService> _service;
};

} // namespace

osg::ref_ptr<ImageSource> createTileServiceImageSource(TileService* service)
{
    return new TileServiceImageSource(service);
}

osg::ref_ptr<ElevationSource> createTileServiceElevationSource(TileService* service)
{
    return new TileServiceElevationSource(service);
}

} // namespace osgEarth::Terrain
