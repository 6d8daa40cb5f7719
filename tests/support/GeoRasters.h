#pragma once

#include <string>

namespace veltra::test {

/// A whole-world picture, `width` × `height`: the western half red, the eastern half blue. "GTiff" writes a WGS84
/// GeoTIFF; other GDAL formats ("PNG", "JPEG") write the picture with a world file beside it and no coordinate
/// system. False when GDAL cannot write it.
bool writeHemispheres(const std::string& path, const char* format = "GTiff", int width = 64, int height = 32);

/// A whole-world WGS84 elevation GeoTIFF, 16 × 8 Float32 cells, every one `metres` high.
bool writeFlatDemTiff(const std::string& path, float metres);

} // namespace veltra::test
