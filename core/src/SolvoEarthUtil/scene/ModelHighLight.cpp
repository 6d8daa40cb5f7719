#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include <SolvoEarthUtil/scene/StateSetEditing.h>

#include <osg/Program>
#include <osg/Shader>
#include <osg/StateSet>

#include <cstdio>

namespace SolvoEarthUtil {

std::string highLightShaderSource(const osg::Vec4f& color)
{
    char source[256] = {};
    std::snprintf(source, sizeof(source), "void main(void) { gl_FragColor = vec4(%lf, %lf, %lf, %lf); }",
                  static_cast<double>(color.r()), static_cast<double>(color.g()), static_cast<double>(color.b()),
                  static_cast<double>(color.a()));
    return source;
}

void setModelHighLight(osg::Node* node, const osg::Vec4f& color)
{
    if (!node)
        return;
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, highLightShaderSource(color)));

    osg::StateSet* stateSet = stateSetForEditing(*node);
    stateSet->setAttributeAndModes(program.get(), osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
    stateSet->setMode(GL_BLEND, osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
}

void removeModelHighLight(osg::Node* node)
{
    if (!node || !node->getStateSet())
        return;
    osg::StateSet* stateSet = stateSetForEditing(*node);
    stateSet->removeAttribute(osg::StateAttribute::PROGRAM);
    stateSet->removeMode(GL_BLEND);
}

} // namespace SolvoEarthUtil
