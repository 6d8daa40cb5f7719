#include <SolvoEarthUtil/scene/ModelTransparency.h>

#include <SolvoEarthUtil/scene/StateSetEditing.h>

#include <osg/BlendColor>
#include <osg/BlendFunc>
#include <osg/StateSet>

namespace SolvoEarthUtil {

void setModelTranspareny(osg::Node* node, float alpha)
{
    if (!node)
        return;
    osg::StateSet* stateSet = stateSetForEditing(*node);
    stateSet->setMode(GL_BLEND, osg::StateAttribute::ON);
    stateSet->setMode(GL_DEPTH_TEST, osg::StateAttribute::ON);
    stateSet->setRenderBinDetails(11, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);

    osg::ref_ptr<osg::BlendColor> blendColor = new osg::BlendColor(osg::Vec4(1.0f, 1.0f, 1.0f, alpha));
    osg::ref_ptr<osg::BlendFunc> blendFunc = new osg::BlendFunc(GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA,
                                                                GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA);
    stateSet->setAttributeAndModes(blendFunc.get(), osg::StateAttribute::ON);
    stateSet->setAttributeAndModes(blendColor.get(), osg::StateAttribute::ON);
}

void removeModelTranspareny(osg::Node* node)
{
    if (!node || !node->getStateSet())
        return;
    osg::StateSet* stateSet = stateSetForEditing(*node);
    stateSet->removeMode(GL_BLEND);
    stateSet->removeMode(GL_DEPTH_TEST);
    stateSet->setRenderBinToInherit();
    stateSet->removeAttribute(osg::StateAttribute::BLENDFUNC);
    stateSet->removeAttribute(osg::StateAttribute::BLENDCOLOR);
}

} // namespace SolvoEarthUtil
