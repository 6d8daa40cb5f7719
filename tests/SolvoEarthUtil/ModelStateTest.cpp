#include <SolvoEarthUtil/scene/ModelHighLight.h>
#include <SolvoEarthUtil/scene/ModelTransparency.h>

#include "OffscreenRender.h"
#include "SceneFixtures.h"

#include <osg/BlendColor>
#include <osg/BlendFunc>
#include <osg/Program>

#include <gtest/gtest.h>

using namespace SolvoEarthUtil;
using namespace veltra::test;

TEST(ModelHighLight, ShaderSourceWritesSixDecimals)
{
    EXPECT_EQ(highLightShaderSource(osg::Vec4f(1, 0, 0, 1)),
              "void main(void) { gl_FragColor = vec4(1.000000, 0.000000, 0.000000, 1.000000); }");
    EXPECT_EQ(highLightShaderSource(osg::Vec4f(0.25f, 0.5f, 0.125f, 0.75f)),
              "void main(void) { gl_FragColor = vec4(0.250000, 0.500000, 0.125000, 0.750000); }");
}

TEST(ModelHighLight, SetsAnOverridingProgramAndBlendingThenRemovesThem)
{
    osg::ref_ptr<osg::Group> node = new osg::Group;
    setModelHighLight(node.get(), osg::Vec4f(0, 1, 0, 1));

    osg::StateSet* stateSet = node->getStateSet();
    ASSERT_NE(stateSet, nullptr);
    const auto* program = dynamic_cast<const osg::Program*>(stateSet->getAttribute(osg::StateAttribute::PROGRAM));
    ASSERT_NE(program, nullptr);
    ASSERT_EQ(program->getNumShaders(), 1u);
    EXPECT_EQ(program->getShader(0)->getType(), osg::Shader::FRAGMENT);
    EXPECT_EQ(program->getShader(0)->getShaderSource(), highLightShaderSource(osg::Vec4f(0, 1, 0, 1)));
    EXPECT_TRUE(stateSet->getAttributePair(osg::StateAttribute::PROGRAM)->second & osg::StateAttribute::OVERRIDE);
    EXPECT_EQ(stateSet->getMode(GL_BLEND), osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);

    // Parts of one colour share one program, so many highlighted parts compile one shader.
    osg::ref_ptr<osg::Group> same = new osg::Group;
    osg::ref_ptr<osg::Group> other = new osg::Group;
    setModelHighLight(same.get(), osg::Vec4f(0, 1, 0, 1));
    setModelHighLight(other.get(), osg::Vec4f(1, 0, 0, 1));
    EXPECT_EQ(same->getStateSet()->getAttribute(osg::StateAttribute::PROGRAM), program);
    EXPECT_NE(other->getStateSet()->getAttribute(osg::StateAttribute::PROGRAM), program);

    // Replaced, not edited: a frame may still be drawing with the state set the node had.
    const osg::ref_ptr<osg::StateSet> highlighted = stateSet;
    removeModelHighLight(node.get());
    stateSet = node->getStateSet();
    EXPECT_NE(stateSet, highlighted.get());
    EXPECT_EQ(highlighted->getAttribute(osg::StateAttribute::PROGRAM), program);
    EXPECT_EQ(stateSet->getAttribute(osg::StateAttribute::PROGRAM), nullptr);
    EXPECT_EQ(stateSet->getMode(GL_BLEND), osg::StateAttribute::INHERIT);
}

TEST(ModelTransparency, ConstantAlphaBlendingInTheTransparentBin)
{
    osg::ref_ptr<osg::Group> node = new osg::Group;
    setModelTranspareny(node.get(), 0.3f);

    osg::StateSet* stateSet = node->getStateSet();
    ASSERT_NE(stateSet, nullptr);
    EXPECT_EQ(stateSet->getMode(GL_BLEND), osg::StateAttribute::ON);
    EXPECT_EQ(stateSet->getMode(GL_DEPTH_TEST), osg::StateAttribute::ON);
    EXPECT_EQ(stateSet->getRenderingHint(), 0);
    EXPECT_EQ(stateSet->getBinNumber(), 11);
    EXPECT_EQ(stateSet->getBinName(), "RenderBin");
    EXPECT_EQ(stateSet->getRenderBinMode(), osg::StateSet::USE_RENDERBIN_DETAILS);

    const auto* colour = dynamic_cast<const osg::BlendColor*>(stateSet->getAttribute(osg::StateAttribute::BLENDCOLOR));
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->getConstantColor(), osg::Vec4(1, 1, 1, 0.3f));
    const auto* function = dynamic_cast<const osg::BlendFunc*>(stateSet->getAttribute(osg::StateAttribute::BLENDFUNC));
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(function->getSource(), static_cast<GLenum>(GL_CONSTANT_ALPHA));
    EXPECT_EQ(function->getSourceAlpha(), static_cast<GLenum>(GL_CONSTANT_ALPHA));
    EXPECT_EQ(function->getDestination(), static_cast<GLenum>(GL_ONE_MINUS_CONSTANT_ALPHA));
    EXPECT_EQ(function->getDestinationAlpha(), static_cast<GLenum>(GL_ONE_MINUS_CONSTANT_ALPHA));

    removeModelTranspareny(node.get());
    stateSet = node->getStateSet();
    EXPECT_EQ(stateSet->getMode(GL_BLEND), osg::StateAttribute::INHERIT);
    EXPECT_EQ(stateSet->getMode(GL_DEPTH_TEST), osg::StateAttribute::INHERIT);
    EXPECT_EQ(stateSet->getRenderBinMode(), osg::StateSet::INHERIT_RENDERBIN_DETAILS);
    EXPECT_EQ(stateSet->getAttribute(osg::StateAttribute::BLENDCOLOR), nullptr);
    EXPECT_EQ(stateSet->getAttribute(osg::StateAttribute::BLENDFUNC), nullptr);
}

TEST(ModelState, RemovingHighLightAlsoTurnsOffTheBlendingOfTransparency)
{
    osg::ref_ptr<osg::Group> node = new osg::Group;
    setModelTranspareny(node.get(), 0.5f);
    removeModelHighLight(node.get());
    EXPECT_EQ(node->getStateSet()->getMode(GL_BLEND), osg::StateAttribute::INHERIT);
    EXPECT_NE(node->getStateSet()->getAttribute(osg::StateAttribute::BLENDFUNC), nullptr);
}

TEST(ModelState, NullNodesAndMissingStateSetsAreLeftAlone)
{
    setModelHighLight(nullptr, osg::Vec4f(1, 1, 1, 1));
    removeModelHighLight(nullptr);
    setModelTranspareny(nullptr, 0.5f);
    removeModelTranspareny(nullptr);

    osg::ref_ptr<osg::Group> bare = new osg::Group;
    removeModelHighLight(bare.get());
    removeModelTranspareny(bare.get());
    EXPECT_EQ(bare->getStateSet(), nullptr);
}

namespace {

osg::ref_ptr<osg::Image> renderOrSkip(osg::Node* scene)
{
    std::string why;
    osg::ref_ptr<osg::Image> image = renderOffscreen(scene, 64, 64, {}, &why);
    if (!image)
        ADD_FAILURE() << "cannot render: " << why;
    return image;
}

} // namespace

TEST(ModelStateRender, HighLightPaintsTheModelInItsColour)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    osg::ref_ptr<osg::Geode> square = makeSquare(osg::Vec3(), 1.0f, osg::Vec4(1, 1, 1, 1));
    root->addChild(square.get());
    setModelHighLight(square.get(), osg::Vec4f(0, 1, 0, 1));

    osg::ref_ptr<osg::Image> image = renderOrSkip(root.get());
    ASSERT_TRUE(image.valid());
    const osg::Vec4ub centre = pixelAt(*image, 32, 32);
    EXPECT_TRUE(colourNear(centre, osg::Vec4ub(0, 255, 0, 255))) << describe(centre);
    EXPECT_TRUE(colourNear(pixelAt(*image, 1, 1), osg::Vec4ub(0, 0, 0, 255))) << "the clear colour around it";
}

TEST(ModelStateRender, TransparencyBlendsWithWhatLiesBehind)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->addChild(makeSquare(osg::Vec3(0, 1, 0), 4.0f, osg::Vec4(0, 0, 1, 1)));
    osg::ref_ptr<osg::Geode> front = makeSquare(osg::Vec3(), 1.0f, osg::Vec4(1, 0, 0, 1));
    root->addChild(front.get());
    setModelTranspareny(front.get(), 0.5f);

    osg::ref_ptr<osg::Image> image = renderOrSkip(root.get());
    ASSERT_TRUE(image.valid());
    const osg::Vec4ub centre = pixelAt(*image, 32, 32);
    EXPECT_TRUE(colourNear(centre, osg::Vec4ub(128, 0, 128, 255), 3)) << describe(centre);

    removeModelTranspareny(front.get());
    image = renderOrSkip(root.get());
    ASSERT_TRUE(image.valid());
    EXPECT_TRUE(colourNear(pixelAt(*image, 32, 32), osg::Vec4ub(255, 0, 0, 255))) << "opaque again";
}
