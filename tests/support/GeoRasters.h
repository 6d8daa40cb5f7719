#pragma once

#include <cmath>
#include <string>
#include <vector>

namespace veltra::test {

/// A whole-world picture, `width` × `height`: the western half red, the eastern half blue. "GTiff" writes a WGS84
/// GeoTIFF; other GDAL formats ("PNG", "JPEG") write the picture with a world file beside it and no coordinate
/// system. False when GDAL cannot write it.
bool writeHemispheres(const std::string& path, const char* format = "GTiff", int width = 64, int height = 32);

/// A whole-world WGS84 elevation GeoTIFF, 16 × 8 Float32 cells, every one `metres` high.
bool writeFlatDemTiff(const std::string& path, float metres);

/// A WGS84 Float32 elevation GeoTIFF of `width` × `height` square cells `cellDegrees` wide, its north-west corner at
/// (`west`, `north`); `cells` holds the heights row by row from the north. When `noData` is a number it is declared
/// as the band's no-data value. False when GDAL cannot write it or `cells` has the wrong size.
bool writeDemTiff(const std::string& path, double west, double north, double cellDegrees, int width, int height,
                  const std::vector<float>& cells, double noData = std::nan(""));

} // namespace veltra::test
