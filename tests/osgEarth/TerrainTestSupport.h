#pragma once

#include <osgEarth/Map>
#include <osgEarth/MapNode>

#include <gdal_priv.h>

#include <osg/PagedLOD>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace terraintest {

/// A geocentric map with the given terrain options and GL lighting off (so pixels show the imagery unshaded).
inline osgEarth::Map* makeMap(const osgEarth::Config& terrain = osgEarth::Config("terrain"))
{
    osgEarth::Config options("options");
    options.add("lighting", "false");
    options.add(terrain);
    return new osgEarth::Map(osgEarth::MapOptions(osgEarth::ConfigOptions(options)));
}

constexpr const char* wgs84Wkt = "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
                                 "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";

inline osgEarth::ImageLayerOptions gdalLayer(const std::string& name, const std::string& path)
{
    osgEarth::Config conf("image");
    conf.add("name", name);
    conf.add("driver", "gdal");
    conf.add("url", path);
    return osgEarth::ImageLayerOptions(osgEarth::ConfigOptions(conf));
}

/// A whole-world raster, 64 × 32: the western hemisphere red, the eastern blue. "GTiff" writes a WGS84 GeoTIFF;
/// "PNG" or "JPEG" write the picture with a world file beside it and no coordinate system.
inline bool writeHemispheres(const std::string& path, const char* format = "GTiff")
{
    GDALAllRegister();
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(format);
    if (!memory || !driver)
        return false;
    const int w = 64, h = 32;
    GDALDataset* ds = memory->Create("", w, h, 3, GDT_Byte, nullptr);
    if (!ds)
        return false;
    double geo[6] = {-180.0, 360.0 / w, 0.0, 90.0, 0.0, -180.0 / h};
    ds->SetGeoTransform(geo);
    const bool geoTiff = std::string(format) == "GTiff";
    if (geoTiff)
        ds->SetProjection(wgs84Wkt);
    std::vector<unsigned char> band(size_t(w) * h);
    bool written = true;
    for (int b = 0; b < 3 && written; ++b)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                band[size_t(y) * w + x] = (b == 0 && x < w / 2) || (b == 2 && x >= w / 2) ? 255 : 0;
        written =
            ds->GetRasterBand(b + 1)->RasterIO(GF_Write, 0, 0, w, h, band.data(), w, h, GDT_Byte, 0, 0) == CE_None;
    }
    char worldFile[] = "WORLDFILE=YES";
    char* options[] = {geoTiff ? nullptr : worldFile, nullptr};
    GDALDataset* copy = written ? driver->CreateCopy(path.c_str(), ds, FALSE, options, nullptr, nullptr) : nullptr;
    GDALClose(ds);
    if (copy)
        GDALClose(copy);
    return copy != nullptr;
}

inline osgEarth::ElevationLayerOptions gdalElevation(const std::string& name, const std::string& path,
                                                     bool offset = false)
{
    osgEarth::Config conf("elevation");
    conf.add("name", name);
    conf.add("driver", "gdal");
    conf.add("url", path);
    conf.add("offset", offset ? "true" : "false");
    return osgEarth::ElevationLayerOptions(osgEarth::ConfigOptions(conf));
}

/// A whole-world WGS84 elevation GeoTIFF, 16 × 8 Float32 cells, every one `metres` high.
inline bool writeFlatDemTiff(const std::string& path, float metres)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver)
        return false;
    const int w = 16, h = 8;
    GDALDataset* ds = driver->Create(path.c_str(), w, h, 1, GDT_Float32, nullptr);
    if (!ds)
        return false;
    double geo[6] = {-180.0, 360.0 / w, 0.0, 90.0, 0.0, -180.0 / h};
    ds->SetGeoTransform(geo);
    ds->SetProjection(wgs84Wkt);
    std::vector<float> cells(size_t(w) * h, metres);
    const bool written =
        ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, w, h, cells.data(), w, h, GDT_Float32, 0, 0) == CE_None;
    GDALClose(ds);
    return written;
}

/// Every PagedLOD's child-0 name under `node`, and the bare tiles' names, collected depth first.
inline void collectTileNames(osg::Node* node, std::vector<std::string>& names)
{
    osg::Group* group = node ? node->asGroup() : nullptr;
    if (!group)
        return;
    const std::string& name = node->getName();
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) && name.find('/') != std::string::npos)
        names.push_back(name);
    for (unsigned i = 0; i < group->getNumChildren(); ++i)
        collectTileNames(group->getChild(i), names);
}

inline unsigned deepestLevel(const std::vector<std::string>& names)
{
    unsigned deepest = 0;
    for (const std::string& name : names)
        deepest = std::max(deepest, unsigned(std::stoul(name)));
    return deepest;
}

} // namespace terraintest
