#include <SolvoEarthUtil/scene/BackGroundImage.h>

#include <osg/Depth>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Texture2D>

namespace SolvoEarthUtil {

osg::Camera* createBackGroundImage(osg::Image* image)
{
    osg::ref_ptr<osg::Geometry> quad = osg::createTexturedQuadGeometry(
        osg::Vec3(0.0f, 0.0f, 0.0f), osg::Vec3(1.0f, 0.0f, 0.0f), osg::Vec3(0.0f, 1.0f, 0.0f), 0.0f, 0.0f, 1.0f, 1.0f);
    quad->getOrCreateStateSet()->setTextureAttributeAndModes(0, new osg::Texture2D(image), osg::StateAttribute::ON);

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(quad.get());

    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    camera->setClearMask(0);
    camera->setCullingActive(false);
    camera->setAllowEventFocus(false);
    camera->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    camera->setRenderOrder(osg::Camera::POST_RENDER, 0);
    camera->setProjectionMatrix(osg::Matrix::ortho2D(0.0, 1.0, 0.0, 1.0));
    camera->addChild(geode.get());

    osg::StateSet* stateSet = camera->getOrCreateStateSet();
    stateSet->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    stateSet->setAttributeAndModes(new osg::Depth(osg::Depth::LEQUAL, 1.0, 1.0, true), osg::StateAttribute::ON);
    return camera.release();
}

} // namespace SolvoEarthUtil
