#pragma once

#include <osgEarth/GeoData>
#include <osgEarth/SpatialReference>

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <mutex>
#include <string>
#include <vector>

class GDALDataset;

namespace osgEarth::Terrain {

/// A local raster opened through GDAL, sampled at points given in the map's SRS. One dataset handle is shared by
/// the pager threads, so every read holds the raster's lock.
class GdalRaster : public osg::Referenced
{
public:
    /// Null (after one warning naming `path`) when the file is missing or GDAL cannot read it.
    static osg::ref_ptr<GdalRaster> open(const std::string& path, const SpatialReference* mapSRS);

    int bandCount() const { return _bands; }
    /// True when band 1 carries a colour table (paletted imagery).
    bool hasPalette() const { return !_palette.empty(); }

    /// Samples `bandCount()` values (palette expanded to 4) at `cols` × `rows` points over `extent` (map SRS),
    /// row 0 at the north. With `pixelCentres` the points sit at the centres of a cols × rows pixel grid;
    /// otherwise the outer points lie on the extent's edges (terrain posts). `valid[i]` says whether point i fell on
    /// the raster (and not on its no-data value). False when no point did.
    bool sampleGrid(const GeoExtent& extent, unsigned cols, unsigned rows, bool pixelCentres, bool bilinear,
                    std::vector<float>& values, std::vector<bool>& valid, int& channels);

protected:
    ~GdalRaster() override;

private:
    GdalRaster() = default;

    std::mutex _mutex;
    GDALDataset* _dataset = nullptr; // closed in the destructor; GDAL owns its memory
    osg::ref_ptr<const SpatialReference> _mapSRS;
    osg::ref_ptr<const SpatialReference> _rasterSRS; // null: same as the map's
    double _geo[6] = {0, 1, 0, 0, 0, 1};
    double _inverse[6] = {0, 1, 0, 0, 0, 1};
    int _width = 0;
    int _height = 0;
    int _bands = 0;
    bool _hasNoData = false;
    double _noData = 0.0;
    std::vector<float> _palette; // RGBA per entry
};

} // namespace osgEarth::Terrain
