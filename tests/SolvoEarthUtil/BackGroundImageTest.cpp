#include <SolvoEarthUtil/scene/BackGroundImage.h>

#include "OffscreenRender.h"
#include "SceneFixtures.h"

#include <osg/Depth>
#include <osg/Geode>
#include <osg/Texture2D>

#include <gtest/gtest.h>

using namespace SolvoEarthUtil;
using namespace veltra::test;

TEST(BackGroundImage, CameraDrawsAfterTheSceneWithoutClearing)
{
    osg::ref_ptr<osg::Image> picture = makeSolidImage(4, 0, 255, 0);
    osg::ref_ptr<osg::Camera> camera = createBackGroundImage(picture.get());
    ASSERT_TRUE(camera.valid());
    EXPECT_EQ(camera->referenceCount(), 1);
    EXPECT_EQ(camera->getClearMask(), 0u);
    EXPECT_EQ(camera->getRenderOrder(), osg::Camera::POST_RENDER);
    EXPECT_EQ(camera->getRenderOrderNum(), 0);
    EXPECT_EQ(camera->getReferenceFrame(), osg::Transform::ABSOLUTE_RF);
    EXPECT_FALSE(camera->getAllowEventFocus());
    EXPECT_EQ(camera->getProjectionMatrix(), osg::Matrix::ortho2D(0, 1, 0, 1));
    EXPECT_TRUE(camera->getViewMatrix().isIdentity());

    const auto* depth =
        dynamic_cast<const osg::Depth*>(camera->getStateSet()->getAttribute(osg::StateAttribute::DEPTH));
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->getFunction(), osg::Depth::LEQUAL);
    EXPECT_EQ(depth->getZNear(), 1.0);
    EXPECT_TRUE(depth->getWriteMask());

    ASSERT_EQ(camera->getNumChildren(), 1u);
    osg::Geode* geode = camera->getChild(0)->asGeode();
    ASSERT_NE(geode, nullptr);
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        geode->getDrawable(0)->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->getImage(), picture.get());
}

TEST(BackGroundImageRender, PictureShowsOnlyWhereNothingIsDrawn)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->addChild(makeSquare(osg::Vec3(), 1.0f, osg::Vec4(1, 0, 0, 1)));
    root->addChild(createBackGroundImage(makeSolidImage(16, 0, 255, 0).get()));

    std::string why;
    osg::ref_ptr<osg::Image> image = renderOffscreen(
        root.get(), 64, 64,
        [](osg::Camera& camera) {
            camera.setClearColor(osg::Vec4(0, 0, 1, 1));
            camera.setViewMatrixAsLookAt(osg::Vec3d(0, -4, 0), osg::Vec3d(), osg::Vec3d(0, 0, 1));
        },
        &why);
    ASSERT_TRUE(image.valid()) << why;

    const osg::Vec4ub centre = pixelAt(*image, 32, 32);
    EXPECT_TRUE(colourNear(centre, osg::Vec4ub(255, 0, 0, 255))) << "the model stays in front: " << describe(centre);
    // Away from the picture's edges, where linear filtering mixes in the texture border.
    for (const auto& [x, y] : {std::pair{8, 8}, std::pair{56, 8}, std::pair{8, 56}, std::pair{56, 56}})
    {
        const osg::Vec4ub corner = pixelAt(*image, x, y);
        EXPECT_TRUE(colourNear(corner, osg::Vec4ub(0, 255, 0, 255)))
            << "background at (" << x << ", " << y << "): " << describe(corner);
    }
}
