#pragma once

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>

#include <string>

namespace veltra::test {

// A part as exporters write them: a named geode with a state set of its own, holding a unit
// square at `x` with its own copies of normals, colour, indices and a material state set.
inline osg::ref_ptr<osg::Geode> makePart(int id, float x, const osg::Vec4& colour, unsigned vertexCount = 4)
{
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array(osg::Array::BIND_PER_VERTEX);
    for (unsigned i = 0; i < vertexCount; ++i)
    {
        const float corner = static_cast<float>(i % 4);
        vertices->push_back(
            osg::Vec3(x + (corner == 1 || corner == 2 ? 0.5f : -0.5f), 0.0f, corner >= 2 ? 0.5f : -0.5f));
        normals->push_back(osg::Vec3(0.0f, -1.0f, 0.0f));
    }
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(osg::Array::BIND_OVERALL);
    colours->push_back(colour);
    osg::ref_ptr<osg::DrawElementsUShort> square = new osg::DrawElementsUShort(GL_TRIANGLES);
    for (unsigned short index : {0, 1, 2, 0, 2, 3})
        square->push_back(index);

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->setNormalArray(normals.get());
    geometry->setColorArray(colours.get());
    geometry->addPrimitiveSet(square.get());
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.5f, 0.5f, 0.5f, 1.0f));
    osg::StateSet* looks = geometry->getOrCreateStateSet();
    looks->setAttributeAndModes(material.get());
    looks->setMode(GL_LIGHTING, osg::StateAttribute::OFF);

    osg::ref_ptr<osg::Geode> part = new osg::Geode;
    part->setName("Element [" + std::to_string(id) + "]");
    part->getOrCreateStateSet()->setMode(GL_CULL_FACE, osg::StateAttribute::OFF);
    part->addDrawable(geometry.get());
    return part;
}

inline osg::Geometry* geometryOf(osg::Node* part)
{
    return part->asGeode()->getDrawable(0)->asGeometry();
}

inline osg::ref_ptr<osg::Group> makeModel(int parts, unsigned vertexCount = 4)
{
    osg::ref_ptr<osg::Group> model = new osg::Group;
    for (int id = 1; id <= parts; ++id)
        model->addChild(makePart(id, 1.5f * static_cast<float>(id - 2), osg::Vec4(1, 0, 0, 1), vertexCount));
    return model;
}

} // namespace veltra::test
