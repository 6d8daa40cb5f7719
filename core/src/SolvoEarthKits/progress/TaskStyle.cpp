#include <SolvoEarthKits/progress/TaskStyle.h>

#include <SolvoEarthKits/progress/TintPrograms.h>
#include <SolvoEarthUtil/scene/StateSetEditing.h>

#include <osg/BlendColor>
#include <osg/BlendFunc>
#include <osg/Shader>
#include <osg/StateSet>

namespace SolvoEarthUtil {

namespace {

const osg::StateAttribute::GLModeValue OnProtected = osg::StateAttribute::ON | osg::StateAttribute::PROTECTED;
const osg::StateAttribute::GLModeValue OffProtected = osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED;

// Drawn after the opaque (0) and transparent (10) standard bins, so a tinted task shows through
// whatever stands in front of it.
const int TintBin = 11;

// True when `stateSet` already shows exactly the tint `style` with one of `shared`'s programs.
bool hasTint(const osg::StateSet& stateSet, int style, TintPrograms& shared)
{
    const osg::StateSet::RefAttributePair* current = stateSet.getAttributePair(osg::StateAttribute::PROGRAM);
    return current && shared.styleOf(dynamic_cast<const osg::Program*>(current->first.get())) == style &&
           (current->second & osg::StateAttribute::PROTECTED) && stateSet.getMode(GL_BLEND) == OnProtected &&
           stateSet.getMode(GL_DEPTH_TEST) == OffProtected &&
           stateSet.getRenderBinMode() == osg::StateSet::USE_RENDERBIN_DETAILS && stateSet.getBinNumber() == TintBin &&
           stateSet.getBinName() == "RenderBin";
}

// True when `stateSet` carries nothing that a tint sets, so restoring the geode's own look changes
// nothing.
bool hasNoTint(const osg::StateSet* stateSet)
{
    return !stateSet || (!stateSet->getAttributePair(osg::StateAttribute::PROGRAM) &&
                         stateSet->getMode(GL_BLEND) == osg::StateAttribute::INHERIT &&
                         stateSet->getMode(GL_DEPTH_TEST) == osg::StateAttribute::INHERIT &&
                         stateSet->getRenderBinMode() == osg::StateSet::INHERIT_RENDERBIN_DETAILS);
}

} // namespace

void setChildMasks(osg::Group* group, osg::Node::NodeMask mask)
{
    if (group == nullptr)
        return;
    for (unsigned int i = 0; i < group->getNumChildren(); ++i)
        group->getChild(i)->setNodeMask(mask);
}

void applyTint(osg::Group* group, int style, TintPrograms* shared)
{
    if (group == nullptr)
        return;
    for (unsigned int i = 0; i < group->getNumChildren(); ++i)
    {
        osg::Node* part = group->getChild(i);
        // Re-applying the tint a geode already shows would copy its state set for nothing: skip
        // it, so a date change costs only what changes.
        const osg::StateSet* current = part->getStateSet();
        if (shared != nullptr && style != 0 && current && hasTint(*current, style, *shared))
            continue;
        if ((style == 0 || tintShaderSource(style) == nullptr) && hasNoTint(current))
            continue;
        osg::StateSet* stateSet = stateSetForEditing(*part);

        // Undo any earlier tint first, so that restyling never stacks and style 0 restores the
        // geode's own look; the blend mode goes too, which also ends an applyAlpha transparency.
        stateSet->removeAttribute(osg::StateAttribute::PROGRAM);
        stateSet->removeMode(GL_BLEND);
        stateSet->removeMode(GL_DEPTH_TEST);
        stateSet->setRenderBinToInherit();

        const osg::ref_ptr<osg::Program> program =
            shared != nullptr ? osg::ref_ptr<osg::Program>(shared->get(style)) : makeTintProgram(style);
        // An unknown style has no program and is treated like style 0.
        if (!program.valid())
            continue;
        stateSet->setAttributeAndModes(program.get(), OnProtected);
        stateSet->setMode(GL_BLEND, OnProtected);
        stateSet->setMode(GL_DEPTH_TEST, OffProtected);
        stateSet->setRenderBinDetails(TintBin, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);
    }
}

void applyAlpha(osg::Group* group, float alpha)
{
    if (group == nullptr)
        return;
    for (unsigned int i = 0; i < group->getNumChildren(); ++i)
    {
        osg::StateSet* stateSet = stateSetForEditing(*group->getChild(i));
        stateSet->removeMode(GL_BLEND);
        stateSet->setMode(GL_BLEND, OnProtected);
        // A constant blend alpha makes the opacity independent of the geode's own vertex colours.
        // Removing the previous blend attributes also removes the GL_BLEND mode they are tied to, so
        // the new ones are set together with their modes to switch blending back on.
        stateSet->removeAttribute(osg::StateAttribute::BLENDFUNC);
        stateSet->setAttributeAndModes(
            new osg::BlendFunc(osg::BlendFunc::CONSTANT_ALPHA, osg::BlendFunc::ONE_MINUS_CONSTANT_ALPHA), OnProtected);
        stateSet->removeAttribute(osg::StateAttribute::BLENDCOLOR);
        stateSet->setAttributeAndModes(new osg::BlendColor(osg::Vec4(1.0f, 1.0f, 1.0f, alpha)), OnProtected);
    }
}

const char* tintShaderSource(int style)
{
    // BT.601 luminance of the vertex colour, mapped onto one false colour; alpha passes through.
    switch (style)
    {
    case 1:
        return "void main(void) { float gray = dot(gl_Color.rgb, vec3(0.299, 0.587, 0.114)); "
               "gl_FragColor = vec4(gray, 0.0, gray, gl_Color.w); }";
    case 2:
        return "void main(void) { float gray = dot(gl_Color.rgb, vec3(0.299, 0.587, 0.114)); "
               "gl_FragColor = vec4(0.0, gray, gray * 0.5, gl_Color.w); }";
    case 3:
        return "void main(void) { float gray = dot(gl_Color.rgb, vec3(0.299, 0.587, 0.114)); "
               "gl_FragColor = vec4(0.0, gray * 0.5, gray, gl_Color.w); }";
    default: return nullptr;
    }
}

osg::ref_ptr<osg::Program> makeTintProgram(int style)
{
    const char* source = tintShaderSource(style);
    if (source == nullptr)
        return nullptr;
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, source));
    return program;
}

} // namespace SolvoEarthUtil
