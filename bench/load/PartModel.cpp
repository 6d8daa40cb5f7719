#include "load/PartModel.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osgDB/WriteFile>

#include <array>
#include <system_error>

namespace veltra::bench {

namespace {

constexpr int kPartsPerStorey = 100;
constexpr int kKinds = 6;

const std::array<osg::Vec4, kKinds> kColours = {osg::Vec4(0.8f, 0.8f, 0.8f, 1.0f), osg::Vec4(0.7f, 0.3f, 0.2f, 1.0f),
                                                osg::Vec4(0.2f, 0.4f, 0.8f, 1.0f), osg::Vec4(0.9f, 0.8f, 0.3f, 1.0f),
                                                osg::Vec4(0.3f, 0.7f, 0.3f, 1.0f), osg::Vec4(0.5f, 0.5f, 0.6f, 1.0f)};

// Each part gets fresh copies of everything, the way a per-element exporter writes them: the
// duplicates are what loading has to cope with.
osg::ref_ptr<osg::Geometry> boxGeometry(const osg::Vec3& centre, const osg::Vec3& half, int kind)
{
    static const float faces[6][4][3] = {
        {{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}}, {{-1, 1, -1}, {-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}},
        {{1, 1, -1}, {-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}}, {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}},
        {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}}, {{-1, 1, -1}, {1, 1, -1}, {1, -1, -1}, {-1, -1, -1}}};
    static const osg::Vec3 normals[6] = {osg::Vec3(1, 0, 0),  osg::Vec3(-1, 0, 0), osg::Vec3(0, 1, 0),
                                         osg::Vec3(0, -1, 0), osg::Vec3(0, 0, 1),  osg::Vec3(0, 0, -1)};

    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> normalArray = new osg::Vec3Array(osg::Array::BIND_PER_VERTEX);
    osg::ref_ptr<osg::DrawElementsUShort> triangles = new osg::DrawElementsUShort(GL_TRIANGLES);
    for (int f = 0; f < 6; ++f)
    {
        const auto base = static_cast<unsigned short>(vertices->size());
        for (const auto& corner : faces[f])
        {
            vertices->push_back(centre + osg::Vec3(corner[0] * half.x(), corner[1] * half.y(), corner[2] * half.z()));
            normalArray->push_back(normals[f]);
        }
        for (unsigned short i : {0, 1, 2, 0, 2, 3})
            triangles->push_back(static_cast<unsigned short>(base + i));
    }
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(osg::Array::BIND_OVERALL);
    colours->push_back(kColours[static_cast<size_t>(kind)]);

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->setNormalArray(normalArray.get());
    geometry->setColorArray(colours.get());
    geometry->addPrimitiveSet(triangles.get());

    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setColorMode(osg::Material::AMBIENT_AND_DIFFUSE);
    material->setSpecular(osg::Material::FRONT_AND_BACK, osg::Vec4(0.1f, 0.1f, 0.1f, 1.0f));
    geometry->getOrCreateStateSet()->setAttributeAndModes(material.get(), osg::StateAttribute::ON);
    return geometry;
}

} // namespace

osg::ref_ptr<osg::Group> makePartModel(int parts)
{
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->setName("Building");
    osg::Group* storey = nullptr;
    int side = 1;
    while (side * side * side < parts)
        ++side;
    for (int k = 1; k <= parts; ++k)
    {
        const int index = k - 1;
        if (index % kPartsPerStorey == 0)
        {
            storey = new osg::Group;
            storey->setName("Storey " + std::to_string(index / kPartsPerStorey + 1));
            model->addChild(storey);
        }
        // Parts fill a cube of side^3 places 3 units apart, so that a view of the whole model
        // shows every part at a few pixels rather than culling most of them as too small.
        const osg::Vec3 centre(static_cast<float>(index % side) * 3.0f,
                               static_cast<float>((index / side) % side) * 3.0f,
                               static_cast<float>(index / (side * side)) * 3.0f);
        const int kind = index % kKinds;
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName("Element [" + std::to_string(k) + "]");
        part->addDrawable(boxGeometry(centre, osg::Vec3(1.0f, 1.0f, 1.0f + 0.1f * static_cast<float>(kind)), kind));
        storey->addChild(part.get());
    }
    return model;
}

std::string partModelFile(const std::filesystem::path& folder, int parts, const std::string& extension)
{
    const std::filesystem::path path = folder / ("parts-" + std::to_string(parts) + "." + extension);
    std::error_code error;
    if (std::filesystem::exists(path, error))
        return path.string();
    std::filesystem::create_directories(folder, error);
    // Written under another name first, so a run stopped half-way leaves no half model behind.
    const std::filesystem::path partial = folder / ("partial-" + path.filename().string());
    if (!osgDB::writeNodeFile(*makePartModel(parts), partial.string()))
        return {};
    std::filesystem::rename(partial, path, error);
    return error ? std::string() : path.string();
}

} // namespace veltra::bench
