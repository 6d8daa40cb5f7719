#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include <SolvoEarthUtil/scene/StateSetEditing.h>

#include <osg/Program>
#include <osg/Shader>
#include <osg/StateSet>

#include <cstdio>
#include <map>
#include <mutex>
#include <tuple>

namespace SolvoEarthUtil {

std::string highLightShaderSource(const osg::Vec4f& color)
{
    char source[256] = {};
    std::snprintf(source, sizeof(source), "void main(void) { gl_FragColor = vec4(%lf, %lf, %lf, %lf); }",
                  static_cast<double>(color.r()), static_cast<double>(color.g()), static_cast<double>(color.b()),
                  static_cast<double>(color.a()));
    return source;
}

namespace {

// One program per colour for the whole process: highlighting many parts then compiles one shader,
// not one per part. Pager threads highlight parts as they load, hence the lock.
osg::Program* highLightProgram(const osg::Vec4f& color)
{
    static std::mutex lock;
    static std::map<std::tuple<float, float, float, float>, osg::ref_ptr<osg::Program>> programs;
    std::lock_guard<std::mutex> guard(lock);
    osg::ref_ptr<osg::Program>& program = programs[std::make_tuple(color.r(), color.g(), color.b(), color.a())];
    if (!program.valid())
    {
        program = new osg::Program;
        program->addShader(new osg::Shader(osg::Shader::FRAGMENT, highLightShaderSource(color)));
    }
    return program.get();
}

} // namespace

void setModelHighLight(osg::Node* node, const osg::Vec4f& color)
{
    if (!node)
        return;
    osg::ref_ptr<osg::Program> program = highLightProgram(color);

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
