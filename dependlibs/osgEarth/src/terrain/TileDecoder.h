#pragma once

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <string>
#include <vector>

namespace osgEarth::Terrain {

/// One service tile decoded for sampling: either RGBA bytes or heights, row 0 at the north edge in both cases.
class DecodedTile : public osg::Referenced
{
public:
    unsigned width = 0;
    unsigned height = 0;
    std::vector<unsigned char> rgba; ///< width × height × 4, imagery tiles only
    std::vector<float> heights;      ///< width × height, elevation tiles only; NaN where the tile has no data

protected:
    ~DecodedTile() override = default;
};

/// Decodes an image tile with osgDB's readers. The format is sniffed from the bytes, then taken from
/// `extensionHint` ("png", "jpg", ...). Null with `error` set when no reader can make an image of it.
osg::ref_ptr<DecodedTile> decodeImageTile(const std::string& bytes, const std::string& extensionHint,
                                          std::string& error);

/// Decodes a height tile (any single-band raster GDAL reads, e.g. GeoTIFF or 16-bit PNG) from memory, band 1 as
/// metres. Null with `error` set when GDAL cannot read it.
osg::ref_ptr<DecodedTile> decodeElevationTile(const std::string& bytes, std::string& error);

} // namespace osgEarth::Terrain
