#include "veltra-demo/DemoWorldRaster.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <osg/Notify>
#include <osg/Vec3>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace veltra::demo {

namespace {

constexpr int kGeneratedWidth = 1024;
constexpr int kGeneratedHeight = 512;
constexpr double kGraticuleStep = 15.0;

struct DatasetCloser
{
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

// Interleaved RGB, row 0 at the north.
struct RgbRaster
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Silences GDAL's own error printing while we probe a file whose failure we report ourselves.
class QuietGdalErrors
{
public:
    QuietGdalErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietGdalErrors() { CPLPopErrorHandler(); }
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

// The photograph as RGB, or an empty raster with `why` set when it cannot serve as a whole-world picture.
RgbRaster readPhotograph(const std::filesystem::path& photograph, std::string& why)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(photograph, error))
    {
        why = "no file " + photograph.string();
        return {};
    }
    QuietGdalErrors quiet;
    Dataset source(static_cast<GDALDataset*>(GDALOpen(photograph.string().c_str(), GA_ReadOnly)));
    if (!source)
    {
        why = photograph.string() + " cannot be read: " + CPLGetLastErrorMsg();
        return {};
    }
    RgbRaster raster;
    raster.width = source->GetRasterXSize();
    raster.height = source->GetRasterYSize();
    // A plate carrée picture of the whole world is exactly twice as wide as high; anything else would be stretched.
    if (source->GetRasterCount() < 3 || raster.height < 1 || raster.width != 2 * raster.height)
    {
        why = photograph.string() + " is not an RGB picture twice as wide as high (" + std::to_string(raster.width) +
              " x " + std::to_string(raster.height) + ", " + std::to_string(source->GetRasterCount()) + " bands)";
        return {};
    }
    raster.pixels.resize(size_t(raster.width) * raster.height * 3);
    int bands[3] = {1, 2, 3};
    if (source->RasterIO(GF_Read, 0, 0, raster.width, raster.height, raster.pixels.data(), raster.width, raster.height,
                         GDT_Byte, 3, bands, 3, 3 * raster.width, 1, nullptr) != CE_None)
    {
        why = photograph.string() + " cannot be decoded: " + CPLGetLastErrorMsg();
        return {};
    }
    return raster;
}

osg::Vec3 mix(const osg::Vec3& a, const osg::Vec3& b, double t)
{
    const float f = float(std::clamp(t, 0.0, 1.0));
    return a * (1.0f - f) + b * f;
}

// Ocean that deepens from the tropics to the temperate belts, then ice towards the poles; the bands blend over a
// few degrees so the tile borders show no seams.
osg::Vec3 bandColour(double latitude)
{
    const osg::Vec3 tropical(0.16f, 0.52f, 0.66f), temperate(0.08f, 0.26f, 0.52f), polar(0.90f, 0.94f, 0.97f);
    const double a = std::fabs(latitude);
    return mix(mix(tropical, temperate, (a - 20.5) / 6.0), polar, (a - 63.5) / 6.0);
}

bool onGraticule(double degrees, double halfPixel)
{
    const double offset = std::fabs(std::remainder(degrees, kGraticuleStep));
    return offset <= halfPixel;
}

RgbRaster generateWorld()
{
    RgbRaster raster{kGeneratedWidth, kGeneratedHeight, {}};
    raster.pixels.resize(size_t(raster.width) * raster.height * 3);
    const double degreesPerPixel = 360.0 / raster.width;
    for (int row = 0; row < raster.height; ++row)
    {
        const double latitude = 90.0 - (row + 0.5) * degreesPerPixel;
        for (int column = 0; column < raster.width; ++column)
        {
            const double longitude = -180.0 + (column + 0.5) * degreesPerPixel;
            osg::Vec3 colour = bandColour(latitude);
            // The equator and prime meridian are drawn brighter so the orientation reads at a glance.
            const bool axis = std::fabs(latitude) <= degreesPerPixel || std::fabs(longitude) <= degreesPerPixel;
            if (axis)
            {
                colour = osg::Vec3(0.95f, 0.80f, 0.30f);
            }
            else if (onGraticule(latitude, degreesPerPixel / 2) || onGraticule(longitude, degreesPerPixel / 2))
            {
                colour = mix(colour, osg::Vec3(1, 1, 1), 0.55);
            }
            unsigned char* pixel = &raster.pixels[(size_t(row) * raster.width + column) * 3];
            for (int c = 0; c < 3; ++c)
            {
                pixel[c] = static_cast<unsigned char>(std::lround(colour[c] * 255.0f));
            }
        }
    }
    return raster;
}

std::string wgs84Wkt()
{
    OGRSpatialReference srs;
    srs.importFromEPSG(4326);
    char* text = nullptr;
    srs.exportToWkt(&text);
    std::string wkt = text ? text : "";
    CPLFree(text);
    return wkt;
}

void writeGeoTiff(const std::filesystem::path& path, const RgbRaster& raster, bool jpeg)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver)
    {
        throw std::runtime_error("cannot write " + path.string() + ": GDAL has no GeoTIFF driver");
    }
    CPLStringList options;
    options.SetNameValue("TILED", "YES");
    options.SetNameValue("BLOCKXSIZE", "256");
    options.SetNameValue("BLOCKYSIZE", "256");
    if (jpeg)
    {
        // A photograph: JPEG in YCbCr is a third of the size of RGB JPEG for no visible loss at globe scale.
        options.SetNameValue("COMPRESS", "JPEG");
        options.SetNameValue("PHOTOMETRIC", "YCBCR");
        options.SetNameValue("JPEG_QUALITY", "90");
    }
    else
    {
        // Flat colours and thin lines: lossless compression keeps the graticule crisp and still compresses well.
        options.SetNameValue("COMPRESS", "DEFLATE");
        options.SetNameValue("PREDICTOR", "2");
    }
    const auto fail = [&](const std::string& why) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return std::runtime_error("cannot write " + path.string() + ": " + why);
    };
    {
        Dataset target(driver->Create(path.string().c_str(), raster.width, raster.height, 3, GDT_Byte, options.List()));
        if (!target)
        {
            throw fail(CPLGetLastErrorMsg());
        }
        double geoTransform[6] = {-180.0, 360.0 / raster.width, 0.0, 90.0, 0.0, -180.0 / raster.height};
        int bands[3] = {1, 2, 3};
        if (target->SetGeoTransform(geoTransform) != CE_None || target->SetProjection(wgs84Wkt().c_str()) != CE_None ||
            target->RasterIO(GF_Write, 0, 0, raster.width, raster.height,
                             const_cast<unsigned char*>(raster.pixels.data()), raster.width, raster.height, GDT_Byte, 3,
                             bands, 3, 3 * raster.width, 1, nullptr) != CE_None)
        {
            const std::string why = CPLGetLastErrorMsg();
            target.reset();
            throw fail(why);
        }
        // Overviews let the coarse tiles of the whole globe read a few kilobytes rather than the full raster.
        int levels[3] = {2, 4, 8};
        if (target->BuildOverviews("AVERAGE", 3, levels, 0, nullptr, nullptr, nullptr) != CE_None)
        {
            const std::string why = CPLGetLastErrorMsg();
            target.reset();
            throw fail(why);
        }
    }
}

} // namespace

WorldRasterSource writeWorldRaster(const std::filesystem::path& path, const std::filesystem::path& photograph)
{
    GDALAllRegister();
    std::string why;
    if (!photograph.empty())
    {
        const RgbRaster picture = readPhotograph(photograph, why);
        if (!picture.pixels.empty())
        {
            writeGeoTiff(path, picture, true);
            return WorldRasterSource::Photograph;
        }
    }
    // A missing photograph is the normal case without the package; only a present but unusable one is worth a word.
    std::error_code error;
    if (!photograph.empty() && std::filesystem::exists(photograph, error))
    {
        OSG_WARN << "veltra-demo: " << why << "; generating the world raster instead" << std::endl;
    }
    writeGeoTiff(path, generateWorld(), false);
    return WorldRasterSource::Generated;
}

} // namespace veltra::demo
