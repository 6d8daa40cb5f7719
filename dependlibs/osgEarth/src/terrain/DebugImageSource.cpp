#include "HtmlColour.h"
#include "TerrainSources.h"

#include <osg/Vec4ub>

#include <algorithm>
#include <array>

namespace osgEarth::Terrain {

namespace {

// A 3 × 5 bitmap font for the characters of a tile key: digits and '/'. Each glyph row is three bits, the high bit
// on the left.
const std::array<std::array<unsigned char, 5>, 11> glyphs = {{
    {7, 5, 5, 5, 7}, // 0
    {2, 6, 2, 2, 7}, // 1
    {7, 1, 7, 4, 7}, // 2
    {7, 1, 7, 1, 7}, // 3
    {5, 5, 7, 1, 1}, // 4
    {7, 4, 7, 1, 7}, // 5
    {7, 4, 7, 5, 7}, // 6
    {7, 1, 1, 1, 1}, // 7
    {7, 5, 7, 5, 7}, // 8
    {7, 5, 7, 1, 7}, // 9
    {1, 1, 2, 4, 4}, // '/'
}};

class DebugImageSource : public ImageSource
{
public:
    DebugImageSource(const osg::Vec4ub& textColour, bool invertY) : _textColour(textColour), _invertY(invertY) {}

    osg::ref_ptr<osg::Image> createImage(const TileKey& key, unsigned size) override
    {
        static const osg::Vec4ub outlines[] = {
            {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 0, 255, 255}};
        osg::ref_ptr<osg::Image> image = new osg::Image();
        image->allocateImage(int(size), int(size), 1, GL_RGBA, GL_UNSIGNED_BYTE);
        std::fill_n(image->data(), size_t(size) * size * 4, static_cast<unsigned char>(0));
        auto put = [&](int x, int y, const osg::Vec4ub& colour) {
            if (x >= 0 && y >= 0 && x < int(size) && y < int(size))
            {
                std::copy_n(colour.ptr(), 4, image->data(x, y));
            }
        };

        const osg::Vec4ub& outline = outlines[key.getLOD() % 4];
        const int border = std::max(1, int(size) / 64);
        for (int i = 0; i < int(size); ++i)
        {
            for (int b = 0; b < border; ++b)
            {
                put(i, b, outline);
                put(i, int(size) - 1 - b, outline);
                put(b, i, outline);
                put(int(size) - 1 - b, i, outline);
            }
        }

        unsigned row = key.getTileY();
        if (_invertY)
        {
            unsigned wide = 0, high = 0;
            key.getProfile()->getNumTiles(key.getLOD(), wide, high);
            row = high - 1 - row;
        }
        const std::string label =
            std::to_string(key.getLOD()) + "/" + std::to_string(key.getTileX()) + "/" + std::to_string(row);
        // Glyph cells are 4 units wide (3 + a gap); scale so the label spans at most three quarters of the tile.
        const int scale = std::max(1, int(size * 3 / 4) / int(label.size() * 4));
        const int left = (int(size) - int(label.size()) * 4 * scale) / 2;
        const int top = (int(size) + 5 * scale) / 2; // image rows grow northwards
        for (size_t ch = 0; ch < label.size(); ++ch)
        {
            const auto& glyph = glyphs[label[ch] == '/' ? 10 : size_t(label[ch] - '0')];
            for (int gy = 0; gy < 5; ++gy)
            {
                for (int gx = 0; gx < 3; ++gx)
                {
                    if (!(glyph[size_t(gy)] & (4 >> gx)))
                    {
                        continue;
                    }
                    for (int sy = 0; sy < scale; ++sy)
                    {
                        for (int sx = 0; sx < scale; ++sx)
                        {
                            put(left + (int(ch) * 4 + gx) * scale + sx, top - gy * scale - sy, _textColour);
                        }
                    }
                }
            }
        }
        return image;
    }

private:
    osg::Vec4ub _textColour;
    bool _invertY;
};

} // namespace

osg::ref_ptr<ImageSource> createDebugImageSource(const ImageLayerOptions& layer)
{
    const Config conf = layer.getConfig();
    return new DebugImageSource(parseHtmlColour(conf.value("color"), osg::Vec4ub(0, 0, 0, 255)),
                                conf.value<bool>("inverty", false));
}

} // namespace osgEarth::Terrain
