#include "GdalRaster.h"
#include "TerrainSources.h"

#include <osgEarth/Profile>

#include <algorithm>

namespace osgEarth::Terrain {

namespace {

bool wantsBilinear(const TerrainLayerOptions& layer, bool byDefault)
{
    const std::string mode = layer.getConfig().value("interpolation");
    return mode.empty() ? byDefault : mode != "nearest";
}

class GdalImageSource : public ImageSource
{
public:
    GdalImageSource(GdalRaster* raster, bool bilinear) : _raster(raster), _bilinear(bilinear) {}

    osg::ref_ptr<osg::Image> createImage(const TileKey& key, unsigned size) override
    {
        std::vector<float> values;
        std::vector<bool> valid;
        int channels = 0;
        if (!_raster->sampleGrid(key.getExtent(), size, size, true, _bilinear, values, valid, channels))
        {
            return nullptr;
        }
        osg::ref_ptr<osg::Image> image = new osg::Image();
        image->allocateImage(int(size), int(size), 1, GL_RGBA, GL_UNSIGNED_BYTE);
        for (unsigned r = 0; r < size; ++r)
        {
            // Samples run from the north; the image's row 0 is the south edge.
            unsigned char* row = image->data(0, int(size - 1 - r));
            for (unsigned c = 0; c < size; ++c)
            {
                const size_t i = size_t(r) * size + c;
                const float* v = &values[i * size_t(channels)];
                auto byte = [](float x) { return static_cast<unsigned char>(std::clamp(x, 0.0f, 255.0f) + 0.5f); };
                unsigned char* px = row + c * 4;
                if (!valid[i])
                {
                    px[0] = px[1] = px[2] = px[3] = 0;
                    continue;
                }
                if (channels >= 3)
                {
                    px[0] = byte(v[0]);
                    px[1] = byte(v[1]);
                    px[2] = byte(v[2]);
                    px[3] = channels >= 4 ? byte(v[3]) : 255;
                }
                else
                {
                    px[0] = px[1] = px[2] = byte(v[0]);
                    px[3] = channels == 2 ? byte(v[1]) : 255;
                }
            }
        }
        return image;
    }

private:
    osg::ref_ptr<GdalRaster> _raster;
    bool _bilinear;
};

class GdalElevationSource : public ElevationSource
{
public:
    explicit GdalElevationSource(GdalRaster* raster) : _raster(raster) {}

    bool sampleHeights(const TileKey& key, unsigned posts, std::vector<float>& heights,
                       std::vector<bool>& valid) override
    {
        std::vector<float> values;
        int channels = 0;
        if (!_raster->sampleGrid(key.getExtent(), posts, posts, false, true, values, valid, channels))
        {
            return false;
        }
        heights.resize(valid.size());
        for (size_t i = 0; i < valid.size(); ++i)
        {
            heights[i] = values[i * size_t(channels)];
        }
        return true;
    }

private:
    osg::ref_ptr<GdalRaster> _raster;
};

} // namespace

osg::ref_ptr<ImageSource> createGdalImageSource(const ImageLayerOptions& layer, const Profile* mapProfile)
{
    osg::ref_ptr<GdalRaster> raster = GdalRaster::open(layer.resolvedURL(), mapProfile->getSRS());
    if (!raster)
    {
        return nullptr;
    }
    return new GdalImageSource(raster.get(), wantsBilinear(layer, true));
}

osg::ref_ptr<ElevationSource> createGdalElevationSource(const ElevationLayerOptions& layer, const Profile* mapProfile)
{
    osg::ref_ptr<GdalRaster> raster = GdalRaster::open(layer.resolvedURL(), mapProfile->getSRS());
    if (!raster)
    {
        return nullptr;
    }
    return new GdalElevationSource(raster.get());
}

} // namespace osgEarth::Terrain
