#include "GdalRaster.h"

#include "SampleGrid.h"

#include <gdal_priv.h>

#include <osg/Notify>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace osgEarth::Terrain {

namespace {

// The largest window we read for one tile, per axis: enough for a few texels per output pixel without pulling a
// whole large raster into memory for a coarse tile.
constexpr int maxWindowFactor = 2;

void ensureGdalDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

} // namespace

osg::ref_ptr<GdalRaster> GdalRaster::open(const std::string& path, const SpatialReference* mapSRS)
{
    ensureGdalDrivers();
    std::error_code ignored;
    if (path.empty() || !std::filesystem::is_regular_file(path, ignored))
    {
        OSG_WARN << "Globe terrain: raster \"" << path << "\" does not exist; its layer draws nothing" << std::endl;
        return nullptr;
    }
    auto* dataset = static_cast<GDALDataset*>(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!dataset)
    {
        OSG_WARN << "Globe terrain: GDAL cannot read \"" << path << "\"; its layer draws nothing" << std::endl;
        return nullptr;
    }
    osg::ref_ptr<GdalRaster> raster = new GdalRaster();
    raster->_dataset = dataset;
    raster->_mapSRS = mapSRS;
    raster->_width = dataset->GetRasterXSize();
    raster->_height = dataset->GetRasterYSize();
    raster->_bands = dataset->GetRasterCount();
    if (raster->_bands < 1 || raster->_width < 1 || raster->_height < 1 ||
        dataset->GetGeoTransform(raster->_geo) != CE_None || !GDALInvGeoTransform(raster->_geo, raster->_inverse))
    {
        OSG_WARN << "Globe terrain: raster \"" << path
                 << "\" has no bands or no georeferencing; its layer draws nothing" << std::endl;
        return nullptr;
    }

    const char* wkt = dataset->GetProjectionRef();
    if (wkt && *wkt)
    {
        osg::ref_ptr<const SpatialReference> srs = SpatialReference::create(wkt);
        if (!srs)
        {
            OSG_WARN << "Globe terrain: the coordinate system of \"" << path
                     << "\" is not understood; assuming the map's" << std::endl;
        }
        else if (!mapSRS || !srs->isEquivalentTo(mapSRS))
        {
            raster->_rasterSRS = srs;
        }
    }

    GDALRasterBand* first = dataset->GetRasterBand(1);
    int hasNoData = 0;
    raster->_noData = first->GetNoDataValue(&hasNoData);
    raster->_hasNoData = hasNoData != 0;
    if (const GDALColorTable* table = first->GetColorTable())
    {
        for (int i = 0; i < table->GetColorEntryCount(); ++i)
        {
            const GDALColorEntry* entry = table->GetColorEntry(i);
            raster->_palette.insert(raster->_palette.end(),
                                    {float(entry->c1), float(entry->c2), float(entry->c3), float(entry->c4)});
        }
    }
    return raster;
}

GdalRaster::~GdalRaster()
{
    if (_dataset)
    {
        GDALClose(_dataset);
    }
}

bool GdalRaster::sampleGrid(const GeoExtent& extent, unsigned cols, unsigned rows, bool pixelCentres, bool bilinear,
                            std::vector<float>& values, std::vector<bool>& valid, int& channels)
{
    const size_t count = size_t(cols) * rows;
    channels = hasPalette() ? 4 : _bands;
    values.assign(count * size_t(channels), 0.0f);
    valid.assign(count, false);
    if (cols == 0 || rows == 0 || !extent.isValid())
    {
        return false;
    }

    // Where each point lands on the raster, in pixel coordinates (centre of pixel i at i + 0.5).
    std::vector<double> px(count), py(count);
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (unsigned r = 0; r < rows; ++r)
    {
        for (unsigned c = 0; c < cols; ++c)
        {
            const osg::Vec2d point = gridPoint(extent, c, r, cols, rows, pixelCentres);
            double x = point.x(), y = point.y();
            if (_rasterSRS && !_mapSRS->transform2D(x, y, _rasterSRS.get(), x, y))
            {
                x = y = std::nan("");
            }
            const size_t i = size_t(r) * cols + c;
            px[i] = _inverse[0] + x * _inverse[1] + y * _inverse[2];
            py[i] = _inverse[3] + x * _inverse[4] + y * _inverse[5];
            if (std::isfinite(px[i]) && std::isfinite(py[i]))
            {
                minX = std::min(minX, px[i]);
                maxX = std::max(maxX, px[i]);
                minY = std::min(minY, py[i]);
                maxY = std::max(maxY, py[i]);
            }
        }
    }
    const int x0 = std::max(0, int(std::floor(std::max(minX, -1.0))) - 1);
    const int y0 = std::max(0, int(std::floor(std::max(minY, -1.0))) - 1);
    const int x1 = std::min(_width, int(std::ceil(std::min(maxX, double(_width) + 1))) + 1);
    const int y1 = std::min(_height, int(std::ceil(std::min(maxY, double(_height) + 1))) + 1);
    if (x1 <= x0 || y1 <= y0)
    {
        return false;
    }

    // Read the window, downsampled by GDAL when it is much larger than the grid we fill.
    const int windowW = x1 - x0, windowH = y1 - y0;
    const int bufW = std::min(windowW, int(cols) * maxWindowFactor + 2);
    const int bufH = std::min(windowH, int(rows) * maxWindowFactor + 2);
    std::vector<float> buffer(size_t(bufW) * bufH * size_t(_bands));
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_dataset->RasterIO(GF_Read, x0, y0, windowW, windowH, buffer.data(), bufW, bufH, GDT_Float32, _bands,
                               nullptr, 0, 0, 0, nullptr) != CE_None)
        {
            OSG_WARN << "Globe terrain: reading a raster window failed: " << CPLGetLastErrorMsg() << std::endl;
            return false;
        }
    }
    const double scaleX = double(bufW) / windowW, scaleY = double(bufH) / windowH;
    const size_t plane = size_t(bufW) * bufH;
    auto texel = [&](int band, int bx, int by) {
        return buffer[size_t(band) * plane + size_t(by) * bufW + size_t(bx)];
    };
    auto isNoData = [&](float value) { return _hasNoData && std::fabs(value - _noData) < 1e-6; };

    bool any = false;
    for (size_t i = 0; i < count; ++i)
    {
        if (!(px[i] >= 0.0 && px[i] <= _width && py[i] >= 0.0 && py[i] <= _height))
        {
            continue;
        }
        // Buffer coordinates with texel centres on integers.
        const double bx = (px[i] - x0) * scaleX - 0.5;
        const double by = (py[i] - y0) * scaleY - 0.5;
        float* out = &values[i * size_t(channels)];
        if (bilinear && !hasPalette())
        {
            const int ix = std::clamp(int(std::floor(bx)), 0, bufW - 1),
                      iy = std::clamp(int(std::floor(by)), 0, bufH - 1);
            const int jx = std::min(ix + 1, bufW - 1), jy = std::min(iy + 1, bufH - 1);
            const float fx = float(std::clamp(bx - ix, 0.0, 1.0)), fy = float(std::clamp(by - iy, 0.0, 1.0));
            if (isNoData(texel(0, ix, iy)) || isNoData(texel(0, jx, iy)) || isNoData(texel(0, ix, jy)) ||
                isNoData(texel(0, jx, jy)))
            {
                continue;
            }
            for (int b = 0; b < _bands; ++b)
            {
                const float top = texel(b, ix, iy) * (1 - fx) + texel(b, jx, iy) * fx;
                const float bottom = texel(b, ix, jy) * (1 - fx) + texel(b, jx, jy) * fx;
                out[b] = top * (1 - fy) + bottom * fy;
            }
        }
        else
        {
            const int ix = std::clamp(int(std::lround(bx)), 0, bufW - 1),
                      iy = std::clamp(int(std::lround(by)), 0, bufH - 1);
            if (isNoData(texel(0, ix, iy)))
            {
                continue;
            }
            if (hasPalette())
            {
                const size_t entry = size_t(std::max(0.0f, texel(0, ix, iy)));
                if (entry * 4 + 3 >= _palette.size())
                {
                    continue;
                }
                std::copy_n(&_palette[entry * 4], 4, out);
            }
            else
            {
                for (int b = 0; b < _bands; ++b)
                {
                    out[b] = texel(b, ix, iy);
                }
            }
        }
        valid[i] = true;
        any = true;
    }
    return any;
}

} // namespace osgEarth::Terrain
