#include "TileDecoder.h"

#include <osgEarth/StringUtils>

#include <cpl_vsi.h>
#include <gdal_priv.h>

#include <osg/Image>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>

namespace osgEarth::Terrain {

namespace {

// Larger tiles than this are not what a tile service sends; refusing them bounds what one decode allocates.
constexpr unsigned maxTileSide = 4096;

std::string sniffExtension(const std::string& bytes)
{
    auto startsWithBytes = [&](const char* magic, size_t n) {
        return bytes.size() >= n && bytes.compare(0, n, magic, n) == 0;
    };
    if (startsWithBytes("\x89PNG", 4))
        return "png";
    if (startsWithBytes("\xFF\xD8\xFF", 3))
        return "jpg";
    if (startsWithBytes("GIF8", 4))
        return "gif";
    if (startsWithBytes("II*\0", 4) || startsWithBytes("MM\0*", 4))
        return "tif";
    return "";
}

osgDB::ReaderWriter* readerFor(const std::string& extension)
{
    return extension.empty() ? nullptr : osgDB::Registry::instance()->getReaderWriterForExtension(extension);
}

void ensureGdalDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

struct DatasetCloser
{
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

} // namespace

osg::ref_ptr<DecodedTile> decodeImageTile(const std::string& bytes, const std::string& extensionHint,
                                          std::string& error)
{
    const std::string sniffed = sniffExtension(bytes);
    osgDB::ReaderWriter* reader = readerFor(sniffed);
    if (!reader)
    {
        reader = readerFor(toLower(extensionHint));
    }
    if (!reader)
    {
        error = "no image reader for this tile (format \"" + (sniffed.empty() ? extensionHint : sniffed) + "\")";
        return nullptr;
    }
    std::istringstream in(bytes);
    osgDB::ReaderWriter::ReadResult result = reader->readImage(in);
    osg::ref_ptr<osg::Image> image = result.getImage();
    if (!image || image->s() < 1 || image->t() < 1 || !image->data())
    {
        error = "the tile is not a readable image";
        return nullptr;
    }
    if (unsigned(image->s()) > maxTileSide || unsigned(image->t()) > maxTileSide)
    {
        error = "the tile image is too large";
        return nullptr;
    }
    osg::ref_ptr<DecodedTile> tile = new DecodedTile();
    tile->width = unsigned(image->s());
    tile->height = unsigned(image->t());
    tile->rgba.resize(size_t(tile->width) * tile->height * 4);
    // osgDB's readers put the first row of the file (the north edge) last unless the image says otherwise.
    const bool northFirst = image->getOrigin() == osg::Image::TOP_LEFT;
    for (unsigned r = 0; r < tile->height; ++r)
    {
        const unsigned sourceRow = northFirst ? r : tile->height - 1 - r;
        unsigned char* out = &tile->rgba[size_t(r) * tile->width * 4];
        for (unsigned c = 0; c < tile->width; ++c, out += 4)
        {
            const osg::Vec4 colour = image->getColor(c, sourceRow);
            for (int i = 0; i < 4; ++i)
            {
                out[i] = static_cast<unsigned char>(std::lround(std::clamp(colour[i], 0.0f, 1.0f) * 255.0f));
            }
        }
    }
    return tile;
}

osg::ref_ptr<DecodedTile> decodeElevationTile(const std::string& bytes, std::string& error)
{
    ensureGdalDrivers();
    static std::atomic<unsigned long> counter{0};
    const std::string name = "/vsimem/veltra_tile_" + std::to_string(counter++);
    // GDAL reads the caller's buffer in place (no copy, not owned); it must outlive the dataset, which it does.
    VSILFILE* file = VSIFileFromMemBuffer(name.c_str(), reinterpret_cast<GByte*>(const_cast<char*>(bytes.data())),
                                          vsi_l_offset(bytes.size()), FALSE);
    if (!file)
    {
        error = "GDAL could not wrap the tile bytes";
        return nullptr;
    }
    VSIFCloseL(file);
    osg::ref_ptr<DecodedTile> tile;
    {
        std::unique_ptr<GDALDataset, DatasetCloser> dataset(static_cast<GDALDataset*>(
            GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
        const int width = dataset ? dataset->GetRasterXSize() : 0;
        const int height = dataset ? dataset->GetRasterYSize() : 0;
        if (!dataset || dataset->GetRasterCount() < 1 || width < 1 || height < 1 || unsigned(width) > maxTileSide ||
            unsigned(height) > maxTileSide)
        {
            error = "GDAL cannot read the tile as a height raster";
        }
        else
        {
            tile = new DecodedTile();
            tile->width = unsigned(width);
            tile->height = unsigned(height);
            tile->heights.resize(size_t(width) * height);
            GDALRasterBand* band = dataset->GetRasterBand(1);
            if (band->RasterIO(GF_Read, 0, 0, width, height, tile->heights.data(), width, height, GDT_Float32, 0, 0,
                               nullptr) != CE_None)
            {
                error = std::string("GDAL failed reading the tile: ") + CPLGetLastErrorMsg();
                tile = nullptr;
            }
            else
            {
                int hasNoData = 0;
                const double noData = band->GetNoDataValue(&hasNoData);
                for (float& h : tile->heights)
                {
                    if (!std::isfinite(h) || (hasNoData && std::fabs(h - noData) < 1e-6))
                    {
                        h = std::numeric_limits<float>::quiet_NaN();
                    }
                }
            }
        }
    }
    VSIUnlink(name.c_str());
    return tile;
}

} // namespace osgEarth::Terrain
