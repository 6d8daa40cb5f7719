#pragma once

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>

#include <string>

namespace veltra::test {

/// An unlit square facing -Y (towards the default test camera), centred on `centre`.
inline osg::ref_ptr<osg::Geode> makeSquare(const osg::Vec3& centre, float size, const osg::Vec4& colour)
{
    const osg::Vec3 corner = centre - osg::Vec3(size / 2, 0.0f, size / 2);
    osg::ref_ptr<osg::Geometry> quad =
        osg::createTexturedQuadGeometry(corner, osg::Vec3(size, 0.0f, 0.0f), osg::Vec3(0.0f, 0.0f, size));
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(colour);
    quad->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(quad.get());
    geode->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    return geode;
}

/// A `size` x `size` RGB image of one colour.
inline osg::ref_ptr<osg::Image> makeSolidImage(int size, unsigned char r, unsigned char g, unsigned char b)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(size, size, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
        {
            unsigned char* p = image->data(x, y);
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    return image;
}

} // namespace veltra::test
