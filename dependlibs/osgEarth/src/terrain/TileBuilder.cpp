#include "TerrainContext.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Texture2D>

#include <algorithm>

namespace osgEarth::Terrain {

namespace {

// Skirts hang this fraction of the tile's half-diagonal below the edges: deep enough to hide the cracks between
// neighbours of different levels, shallow enough not to show at grazing angles.
constexpr double skirtRatio = 0.05;

} // namespace

osg::ref_ptr<osg::Image> TerrainContext::compositeImage(const TileKey& key) const
{
    osg::ref_ptr<osg::Image> result;
    for (const ImageLayer& layer : _images)
    {
        if (!layerShowsAt(key.getLOD(), layer.minLevel, layer.maxLevel))
        {
            continue;
        }
        osg::ref_ptr<osg::Image> image = layer.source->createImage(key, _imageSize);
        if (!image || image->s() != int(_imageSize) || image->t() != int(_imageSize) ||
            image->getPixelFormat() != GL_RGBA || image->getDataType() != GL_UNSIGNED_BYTE)
        {
            continue;
        }
        if (!result)
        {
            result = new osg::Image();
            result->allocateImage(int(_imageSize), int(_imageSize), 1, GL_RGBA, GL_UNSIGNED_BYTE);
            for (size_t i = 0; i < size_t(_imageSize) * _imageSize; ++i)
            {
                std::copy_n(_colour.ptr(), 4, result->data() + 4 * i);
            }
        }
        const unsigned char* src = image->data();
        unsigned char* dst = result->data();
        for (size_t i = 0; i < size_t(_imageSize) * _imageSize; ++i, src += 4, dst += 4)
        {
            const float a = layer.opacity * src[3] / 255.0f;
            for (int c = 0; c < 3; ++c)
            {
                dst[c] = static_cast<unsigned char>(src[c] * a + dst[c] * (1.0f - a) + 0.5f);
            }
        }
    }
    return result; // null when no layer draws here: the tile shows the plain terrain colour
}

osg::ref_ptr<osg::MatrixTransform> TerrainContext::buildTileNode(const TileKey& key, double& halfDiagonal) const
{
    const GeoExtent extent = key.getExtent();
    const unsigned n = _posts;
    const std::vector<float> heights = combinedHeights(_elevations, key, _posts, _verticalScale);

    double cx = 0, cy = 0;
    extent.getCentroid(cx, cy);
    const osg::Vec3d centre = toWorld(cx, cy, 0.0);
    halfDiagonal =
        0.5 * (toWorld(extent.east(), extent.north(), 0.0) - toWorld(extent.west(), extent.south(), 0.0)).length();
    const double skirt = halfDiagonal * skirtRatio;

    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array();
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array();
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array();
    std::vector<osg::Vec3d> ups;
    for (unsigned r = 0; r < n; ++r)
    {
        const double v = double(r) / (n - 1); // from the north edge
        for (unsigned c = 0; c < n; ++c)
        {
            const double u = double(c) / (n - 1);
            const osg::Vec3d world = toWorld(extent.west() + u * extent.width(), extent.north() - v * extent.height(),
                                             heights[size_t(r) * n + c]);
            const osg::Vec3d up = upAt(world);
            ups.push_back(up);
            vertices->push_back(world - centre);
            normals->push_back(up);
            texCoords->push_back(osg::Vec2(float(u), float(1.0 - v)));
        }
    }

    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (unsigned r = 0; r + 1 < n; ++r)
    {
        for (unsigned c = 0; c + 1 < n; ++c)
        {
            const unsigned i = r * n + c;
            // Counter-clockwise seen from above: north is up, so row r + 1 lies south of row r.
            for (unsigned index : {i, i + n, i + 1, i + 1, i + n, i + n + 1})
                triangles->push_back(index);
        }
    }

    // The skirt walks the perimeter once, dropping a copy of each edge post straight down.
    std::vector<unsigned> perimeter;
    for (unsigned c = 0; c + 1 < n; ++c)
        perimeter.push_back(c); // north, west to east
    for (unsigned r = 0; r + 1 < n; ++r)
        perimeter.push_back(r * n + n - 1); // east, north to south
    for (unsigned c = n - 1; c > 0; --c)
        perimeter.push_back((n - 1) * n + c); // south, east to west
    for (unsigned r = n - 1; r > 0; --r)
        perimeter.push_back(r * n); // west, south to north
    const unsigned skirtStart = unsigned(vertices->size());
    for (unsigned post : perimeter)
    {
        vertices->push_back((*vertices)[post] - osg::Vec3(ups[post] * skirt));
        normals->push_back((*normals)[post]);
        texCoords->push_back((*texCoords)[post]);
    }
    const unsigned ring = unsigned(perimeter.size());
    for (unsigned k = 0; k < ring; ++k)
    {
        const unsigned a = perimeter[k], b = perimeter[(k + 1) % ring];
        const unsigned sa = skirtStart + k, sb = skirtStart + (k + 1) % ring;
        for (unsigned index : {a, sa, b, b, sa, sb})
            triangles->push_back(index);
    }

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry();
    geometry->setUseVertexBufferObjects(true);
    geometry->setVertexArray(vertices.get());
    geometry->setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
    geometry->setTexCoordArray(0, texCoords.get());
    geometry->addPrimitiveSet(triangles.get());

    osg::ref_ptr<osg::Geode> geode = new osg::Geode();
    geode->addDrawable(geometry.get());
    osg::ref_ptr<osg::Image> image = compositeImage(key);
    // The terrain colour is already under the imagery; a tile without any shows it plainly.
    const osg::Vec4ub base = image ? osg::Vec4ub(255, 255, 255, 255) : _colour;
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array();
    colours->push_back(osg::Vec4(base.r(), base.g(), base.b(), base.a()) / 255.0f);
    geometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    if (image)
    {
        osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image.get());
        texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
        texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
        texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR_MIPMAP_LINEAR);
        texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
        texture->setResizeNonPowerOfTwoHint(false);
        geode->getOrCreateStateSet()->setTextureAttributeAndModes(0, texture.get(), osg::StateAttribute::ON);
    }
    if (!_lighting)
    {
        geode->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    }

    osg::ref_ptr<osg::MatrixTransform> tile = new osg::MatrixTransform(osg::Matrixd::translate(centre));
    tile->setName(key.str());
    tile->addChild(geode.get());
    return tile;
}

} // namespace osgEarth::Terrain
