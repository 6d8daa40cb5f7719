#include <SolvoEarthUtil/scene/SkyBox.h>

#include <SolvoEarthUtil/scene/MoveEarthySkyWithEyePointTransform.h>
#include <SolvoEarthUtil/scene/TexMatCallback.h>

#include <osg/ClearNode>
#include <osg/Depth>
#include <osg/Geode>
#include <osg/Notify>
#include <osg/ShapeDrawable>
#include <osg/TexEnv>
#include <osg/TexGen>
#include <osg/TexMat>
#include <osg/TextureCubeMap>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#ifndef GL_TEXTURE_CUBE_MAP_SEAMLESS
#define GL_TEXTURE_CUBE_MAP_SEAMLESS 0x884F
#endif

namespace SolvoEarthUtil {

namespace {

osg::ref_ptr<osg::TextureCubeMap> readCubeMap(const std::string& folder)
{
    osg::ref_ptr<osg::TextureCubeMap> cubeMap = new osg::TextureCubeMap;
    if (osg::isNotifyEnabled(osg::NOTICE))
        osg::notify(osg::NOTICE) << "path " << folder + "posX.jpg" << std::endl;

    static const char* const faceFiles[6] = {"posX.jpg", "negX.jpg", "posY.jpg", "negY.jpg", "posZ.jpg", "negZ.jpg"};
    static const osg::TextureCubeMap::Face faces[6] = {
        osg::TextureCubeMap::POSITIVE_X, osg::TextureCubeMap::NEGATIVE_X, osg::TextureCubeMap::POSITIVE_Y,
        osg::TextureCubeMap::NEGATIVE_Y, osg::TextureCubeMap::POSITIVE_Z, osg::TextureCubeMap::NEGATIVE_Z};

    const osgDB::Options* options = osgDB::Registry::instance()->getOptions();
    osg::ref_ptr<osg::Image> images[6];
    for (int i = 0; i < 6; ++i)
    {
        images[i] = osgDB::readRefImageFile(folder + faceFiles[i], options);
        if (!images[i])
            return cubeMap; // all six or none
    }
    for (int i = 0; i < 6; ++i)
        cubeMap->setImage(faces[i], images[i].get());
    cubeMap->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    cubeMap->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    return cubeMap;
}

} // namespace

osg::Node* createSkyBox(std::string folder)
{
    osg::ref_ptr<osg::StateSet> stateSet = new osg::StateSet;

    stateSet->setTextureAttributeAndModes(0, new osg::TexEnv(osg::TexEnv::REPLACE), osg::StateAttribute::ON);
    osg::ref_ptr<osg::TexGen> texGen = new osg::TexGen;
    texGen->setMode(osg::TexGen::NORMAL_MAP);
    stateSet->setTextureAttributeAndModes(0, texGen.get(), osg::StateAttribute::ON);
    osg::ref_ptr<osg::TexMat> texMat = new osg::TexMat;
    stateSet->setTextureAttribute(0, texMat.get());
    stateSet->setTextureAttributeAndModes(0, readCubeMap(folder).get(), osg::StateAttribute::ON);

    stateSet->setMode(GL_TEXTURE_CUBE_MAP_SEAMLESS, osg::StateAttribute::ON);
    stateSet->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    stateSet->setMode(GL_CULL_FACE, osg::StateAttribute::OFF);
    // Drawn first at the far plane, so everything else covers it.
    stateSet->setAttributeAndModes(new osg::Depth(osg::Depth::ALWAYS, 1.0, 1.0), osg::StateAttribute::ON);
    stateSet->setRenderBinDetails(-1, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setCullingActive(false);
    geode->setStateSet(stateSet.get());
    geode->addDrawable(new osg::ShapeDrawable(new osg::Sphere(osg::Vec3(), 30000.0f)));

    osg::ref_ptr<osg::Transform> transform = new MoveEarthySkyWithEyePointTransform;
    transform->setCullingActive(false);
    transform->addChild(geode.get());

    osg::ref_ptr<osg::ClearNode> clearNode = new osg::ClearNode;
    clearNode->setCullCallback(new TexMatCallback(*texMat));
    clearNode->addChild(transform.get());
    return clearNode.release();
}

} // namespace SolvoEarthUtil
