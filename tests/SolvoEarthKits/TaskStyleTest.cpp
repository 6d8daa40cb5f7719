#include <SolvoEarthKits/progress/TaskStyle.h>
#include <SolvoEarthKits/progress/TintPrograms.h>

#include <osg/BlendColor>
#include <osg/BlendFunc>
#include <osg/Geode>
#include <osg/Material>
#include <osg/Shader>

#include <gtest/gtest.h>

#include <string>

using namespace SolvoEarthUtil;

namespace {

const unsigned int OnProtected = osg::StateAttribute::ON | osg::StateAttribute::PROTECTED;
const unsigned int OffProtected = osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED;
// A state set keeps only the override bits of an attribute's value.
const unsigned int AttributeProtected = osg::StateAttribute::PROTECTED;

osg::ref_ptr<osg::Group> makeTask(unsigned int geodes)
{
    osg::ref_ptr<osg::Group> task = new osg::Group;
    for (unsigned int i = 0; i < geodes; ++i)
        task->addChild(new osg::Geode);
    return task;
}

osg::StateSet* stateOf(osg::Group* task, unsigned int child)
{
    return task->getChild(child)->getStateSet();
}

const osg::Program* programOf(const osg::StateSet* stateSet)
{
    return dynamic_cast<const osg::Program*>(stateSet->getAttribute(osg::StateAttribute::PROGRAM));
}

// Everything a tint of `style` must leave on a state set.
void expectTinted(const osg::StateSet* stateSet, int style)
{
    ASSERT_NE(stateSet, nullptr);
    const osg::StateSet::RefAttributePair* pair = stateSet->getAttributePair(osg::StateAttribute::PROGRAM);
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pair->second, AttributeProtected);
    const auto* program = dynamic_cast<const osg::Program*>(pair->first.get());
    ASSERT_NE(program, nullptr);
    ASSERT_EQ(program->getNumShaders(), 1u);
    EXPECT_EQ(program->getShader(0)->getType(), osg::Shader::FRAGMENT);
    EXPECT_EQ(program->getShader(0)->getShaderSource(), tintShaderSource(style));
    EXPECT_EQ(stateSet->getMode(GL_BLEND), OnProtected);
    EXPECT_EQ(stateSet->getMode(GL_DEPTH_TEST), OffProtected);
    EXPECT_EQ(stateSet->getRenderBinMode(), osg::StateSet::USE_RENDERBIN_DETAILS);
    EXPECT_EQ(stateSet->getBinNumber(), 11);
    EXPECT_EQ(stateSet->getBinName(), "RenderBin");
}

void expectUntinted(const osg::StateSet* stateSet)
{
    ASSERT_NE(stateSet, nullptr);
    EXPECT_EQ(stateSet->getAttribute(osg::StateAttribute::PROGRAM), nullptr);
    EXPECT_EQ(stateSet->getMode(GL_BLEND), osg::StateAttribute::INHERIT);
    EXPECT_EQ(stateSet->getMode(GL_DEPTH_TEST), osg::StateAttribute::INHERIT);
    EXPECT_EQ(stateSet->getRenderBinMode(), osg::StateSet::INHERIT_RENDERBIN_DETAILS);
}

void expectAlpha(const osg::StateSet* stateSet, float alpha)
{
    ASSERT_NE(stateSet, nullptr);
    EXPECT_EQ(stateSet->getMode(GL_BLEND), OnProtected);
    const osg::StateSet::RefAttributePair* func = stateSet->getAttributePair(osg::StateAttribute::BLENDFUNC);
    ASSERT_NE(func, nullptr);
    EXPECT_EQ(func->second, AttributeProtected);
    const auto* blendFunc = dynamic_cast<const osg::BlendFunc*>(func->first.get());
    ASSERT_NE(blendFunc, nullptr);
    EXPECT_EQ(blendFunc->getSource(), static_cast<GLenum>(GL_CONSTANT_ALPHA));
    EXPECT_EQ(blendFunc->getDestination(), static_cast<GLenum>(GL_ONE_MINUS_CONSTANT_ALPHA));
    const osg::StateSet::RefAttributePair* color = stateSet->getAttributePair(osg::StateAttribute::BLENDCOLOR);
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(color->second, AttributeProtected);
    const auto* blendColor = dynamic_cast<const osg::BlendColor*>(color->first.get());
    ASSERT_NE(blendColor, nullptr);
    EXPECT_EQ(blendColor->getConstantColor(), osg::Vec4(1, 1, 1, alpha));
}

} // namespace

TEST(TaskStyle, ShaderSourcesAndPrograms)
{
    EXPECT_STREQ(tintShaderSource(1), "void main(void) { float gray = dot(gl_Color.rgb, vec3(0.299, 0.587, 0.114)); "
                                      "gl_FragColor = vec4(gray, 0.0, gray, gl_Color.w); }");
    EXPECT_STREQ(tintShaderSource(2), "void main(void) { float gray = dot(gl_Color.rgb, vec3(0.299, 0.587, 0.114)); "
                                      "gl_FragColor = vec4(0.0, gray, gray * 0.5, gl_Color.w); }");
    EXPECT_STREQ(tintShaderSource(3), "void main(void) { float gray = dot(gl_Color.rgb, vec3(0.299, 0.587, 0.114)); "
                                      "gl_FragColor = vec4(0.0, gray * 0.5, gray, gl_Color.w); }");
    for (int style : {-1, 0, 4})
    {
        EXPECT_EQ(tintShaderSource(style), nullptr) << style;
        EXPECT_FALSE(makeTintProgram(style).valid()) << style;
    }

    for (int style = 1; style <= 3; ++style)
    {
        osg::ref_ptr<osg::Program> program = makeTintProgram(style);
        ASSERT_TRUE(program.valid());
        ASSERT_EQ(program->getNumShaders(), 1u);
        EXPECT_EQ(program->getShader(0)->getType(), osg::Shader::FRAGMENT);
        EXPECT_EQ(program->getShader(0)->getShaderSource(), tintShaderSource(style));
        EXPECT_NE(makeTintProgram(style).get(), program.get());
    }
}

TEST(TaskStyle, ChildMasksHideAndShowEveryChild)
{
    osg::ref_ptr<osg::Group> task = makeTask(2);
    setChildMasks(task.get(), 0);
    EXPECT_EQ(task->getChild(1)->getNodeMask(), 0u);
    EXPECT_NE(task->getNodeMask(), 0u);
    setChildMasks(task.get(), 0xFFFFFFFF);
    EXPECT_EQ(task->getChild(0)->getNodeMask(), 0xFFFFFFFFu);
    EXPECT_EQ(task->getChild(1)->getNodeMask(), 0xFFFFFFFFu);
}

TEST(TaskStyle, EachTintStyleSetsItsOwnProgramOnEveryChild)
{
    for (int style = 1; style <= 3; ++style)
    {
        SCOPED_TRACE(style);
        osg::ref_ptr<osg::Group> task = makeTask(2);
        applyTint(task.get(), style);
        expectTinted(stateOf(task.get(), 0), style);
        expectTinted(stateOf(task.get(), 1), style);
        EXPECT_NE(programOf(stateOf(task.get(), 0)), programOf(stateOf(task.get(), 1)));
        // The task group itself is not part of the scene; only its children are styled.
        EXPECT_EQ(task->getStateSet(), nullptr);
    }
}

TEST(TaskStyle, RestylingReplacesTheTintAndStyleZeroRestoresTheOwnLook)
{
    osg::ref_ptr<osg::Group> task = makeTask(1);
    const osg::ref_ptr<osg::StateSet> own = task->getChild(0)->getOrCreateStateSet();
    own->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    own->setAttributeAndModes(new osg::Material);
    own->setRenderBinDetails(10, "DepthSortedBin");

    applyTint(task.get(), 1);
    applyTint(task.get(), 3);
    expectTinted(stateOf(task.get(), 0), 3);
    EXPECT_EQ(stateOf(task.get(), 0)->getAttributeList().size(), 2u);
    // A frame may still be drawing with the state set the geode had: it is replaced, never edited.
    EXPECT_NE(stateOf(task.get(), 0), own.get());
    EXPECT_EQ(own->getAttributeList().size(), 1u);
    EXPECT_EQ(own->getBinName(), "DepthSortedBin");

    applyTint(task.get(), 0);
    const osg::StateSet* restored = stateOf(task.get(), 0);
    expectUntinted(restored);
    EXPECT_EQ(restored->getMode(GL_LIGHTING), static_cast<unsigned int>(osg::StateAttribute::OFF));
    EXPECT_EQ(restored->getAttribute(osg::StateAttribute::MATERIAL), own->getAttribute(osg::StateAttribute::MATERIAL));
    EXPECT_EQ(restored->getAttributeList().size(), 1u);
    EXPECT_EQ(restored->getModeList().size(), 1u);

    // A style without a tint colour behaves as style 0, and restyling an untinted geode so costs
    // nothing.
    applyTint(task.get(), 2);
    applyTint(task.get(), 4);
    expectUntinted(stateOf(task.get(), 0));
    const osg::StateSet* untinted = stateOf(task.get(), 0);
    applyTint(task.get(), 0);
    EXPECT_EQ(stateOf(task.get(), 0), untinted);

    // Style 0 on a geode never styled leaves it without a state set of its own.
    osg::ref_ptr<osg::Group> plain = makeTask(1);
    applyTint(plain.get(), 0);
    EXPECT_EQ(stateOf(plain.get(), 0), nullptr);
}

TEST(TaskStyle, AlphaIsConstantBlendingThatOnlyStyleZeroSwitchesOff)
{
    osg::ref_ptr<osg::Group> task = makeTask(2);
    applyAlpha(task.get(), 0.25f);
    applyAlpha(task.get(), 0.5f);
    expectAlpha(stateOf(task.get(), 0), 0.5f);
    expectAlpha(stateOf(task.get(), 1), 0.5f);
    EXPECT_EQ(stateOf(task.get(), 0)->getAttributeList().size(), 2u);

    // A tint keeps the task half transparent.
    applyTint(task.get(), 2);
    expectTinted(stateOf(task.get(), 0), 2);
    expectAlpha(stateOf(task.get(), 0), 0.5f);

    // Style 0 switches blending off; the blend attributes stay, without effect.
    applyTint(task.get(), 0);
    const osg::StateSet* stateSet = stateOf(task.get(), 0);
    expectUntinted(stateSet);
    EXPECT_NE(stateSet->getAttribute(osg::StateAttribute::BLENDFUNC), nullptr);
    const auto* color = dynamic_cast<const osg::BlendColor*>(stateSet->getAttribute(osg::StateAttribute::BLENDCOLOR));
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(color->getConstantColor().a(), 0.5f);

    // Alpha over a tint keeps the tint.
    applyTint(task.get(), 3);
    applyAlpha(task.get(), 0.0f);
    expectTinted(stateOf(task.get(), 1), 3);
    expectAlpha(stateOf(task.get(), 1), 0.0f);
}

TEST(TaskStyle, AGeodeInTwoTasksTakesTheLastStyle)
{
    osg::ref_ptr<osg::Geode> shared = new osg::Geode;
    osg::ref_ptr<osg::Group> first = makeTask(1);
    osg::ref_ptr<osg::Group> second = makeTask(0);
    first->addChild(shared.get());
    second->addChild(shared.get());

    applyTint(first.get(), 1);
    applyTint(second.get(), 3);
    expectTinted(shared->getStateSet(), 3);
    expectTinted(stateOf(first.get(), 0), 1);

    applyTint(first.get(), 0);
    expectUntinted(shared->getStateSet());
}

TEST(TaskStyle, SharedProgramsAreOnePerStyle)
{
    osg::ref_ptr<TintPrograms> programs = new TintPrograms;
    EXPECT_EQ(programs->get(0), nullptr);
    EXPECT_EQ(programs->get(4), nullptr);
    EXPECT_EQ(programs->get(-1), nullptr);

    osg::ref_ptr<osg::Group> task = makeTask(2);
    osg::ref_ptr<osg::Group> other = makeTask(1);
    applyTint(task.get(), 2, programs.get());
    applyTint(other.get(), 2, programs.get());
    const osg::Program* green = programOf(stateOf(task.get(), 0));
    ASSERT_NE(green, nullptr);
    EXPECT_EQ(green, programs->get(2));
    EXPECT_EQ(programOf(stateOf(task.get(), 1)), green);
    EXPECT_EQ(programOf(stateOf(other.get(), 0)), green);
    expectTinted(stateOf(task.get(), 1), 2);

    applyTint(task.get(), 1, programs.get());
    expectTinted(stateOf(task.get(), 0), 1);
    EXPECT_EQ(programOf(stateOf(task.get(), 0)), programs->get(1));
    EXPECT_NE(programs->get(1), green);

    applyTint(task.get(), 2, programs.get());
    EXPECT_EQ(programOf(stateOf(task.get(), 0)), green);
}

TEST(TaskStyle, NullAndEmptyGroupsAreLeftAlone)
{
    setChildMasks(nullptr, 0);
    applyTint(nullptr, 1);
    applyAlpha(nullptr, 0.5f);

    osg::ref_ptr<osg::Group> empty = makeTask(0);
    setChildMasks(empty.get(), 0);
    applyTint(empty.get(), 3);
    applyAlpha(empty.get(), 0.5f);
    EXPECT_EQ(empty->getStateSet(), nullptr);
    EXPECT_NE(empty->getNodeMask(), 0u);
}
