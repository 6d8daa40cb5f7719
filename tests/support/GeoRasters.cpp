#include "GeoRasters.h"

#include <gdal_priv.h>

#include <vector>

namespace veltra::test {

namespace {

const char* const wgs84Wkt = "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
                             "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";

// Pixel sizes that cover the whole world with `w` × `h` pixels, north up.
void setWholeWorld(GDALDataset& dataset, int w, int h)
{
    double geo[6] = {-180.0, 360.0 / w, 0.0, 90.0, 0.0, -180.0 / h};
    dataset.SetGeoTransform(geo);
}

} // namespace

bool writeHemispheres(const std::string& path, const char* format, int width, int height)
{
    GDALAllRegister();
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(format);
    if (!memory || !driver)
        return false;
    GDALDataset* ds = memory->Create("", width, height, 3, GDT_Byte, nullptr);
    if (!ds)
        return false;
    setWholeWorld(*ds, width, height);
    const bool geoTiff = std::string(format) == "GTiff";
    if (geoTiff)
        ds->SetProjection(wgs84Wkt);
    std::vector<unsigned char> band(size_t(width) * height);
    bool written = true;
    for (int b = 0; b < 3 && written; ++b)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                band[size_t(y) * width + x] = (b == 0 && x < width / 2) || (b == 2 && x >= width / 2) ? 255 : 0;
        written = ds->GetRasterBand(b + 1)->RasterIO(GF_Write, 0, 0, width, height, band.data(), width, height,
                                                     GDT_Byte, 0, 0) == CE_None;
    }
    char worldFile[] = "WORLDFILE=YES";
    char* options[] = {geoTiff ? nullptr : worldFile, nullptr};
    GDALDataset* copy = written ? driver->CreateCopy(path.c_str(), ds, FALSE, options, nullptr, nullptr) : nullptr;
    GDALClose(ds);
    if (copy)
        GDALClose(copy);
    return copy != nullptr;
}

bool writeFlatDemTiff(const std::string& path, float metres)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver)
        return false;
    const int w = 16, h = 8;
    GDALDataset* ds = driver->Create(path.c_str(), w, h, 1, GDT_Float32, nullptr);
    if (!ds)
        return false;
    setWholeWorld(*ds, w, h);
    ds->SetProjection(wgs84Wkt);
    std::vector<float> cells(size_t(w) * h, metres);
    const bool written =
        ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, w, h, cells.data(), w, h, GDT_Float32, 0, 0) == CE_None;
    GDALClose(ds);
    return written;
}

bool writeDemTiff(const std::string& path, double west, double north, double cellDegrees, int width, int height,
                  const std::vector<float>& cells, double noData)
{
    if (width < 1 || height < 1 || cells.size() != size_t(width) * height)
        return false;
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver)
        return false;
    GDALDataset* ds = driver->Create(path.c_str(), width, height, 1, GDT_Float32, nullptr);
    if (!ds)
        return false;
    double geo[6] = {west, cellDegrees, 0.0, north, 0.0, -cellDegrees};
    ds->SetGeoTransform(geo);
    ds->SetProjection(wgs84Wkt);
    GDALRasterBand* band = ds->GetRasterBand(1);
    if (std::isfinite(noData))
        band->SetNoDataValue(noData);
    std::vector<float> copy = cells; // RasterIO takes a non-const buffer even for writing
    const bool written =
        band->RasterIO(GF_Write, 0, 0, width, height, copy.data(), width, height, GDT_Float32, 0, 0) == CE_None;
    GDALClose(ds);
    return written;
}

} // namespace veltra::test
