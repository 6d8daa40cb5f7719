#include <SolvoEarthUtil/scene/MoveEarthySkyWithEyePointTransform.h>
#include <SolvoEarthUtil/scene/SkyBox.h>
#include <SolvoEarthUtil/scene/TexMatCallback.h>

#include "NotifyCapture.h"
#include "OffscreenRender.h"
#include "SceneFixtures.h"
#include "TempDir.h"

#include <osg/ClearNode>
#include <osg/Depth>
#include <osg/Geode>
#include <osg/io_utils>
#include <osg/TexGen>
#include <osg/TextureCubeMap>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <set>

using namespace SolvoEarthUtil;
using namespace veltra::test;

namespace {

const char* const kFaceFiles[6] = {"posX.jpg", "negX.jpg", "posY.jpg", "negY.jpg", "posZ.jpg", "negZ.jpg"};
const osg::Vec4ub kFaceColours[6] = {{255, 0, 0, 255},   {0, 255, 0, 255},   {0, 0, 255, 255},
                                     {255, 255, 0, 255}, {0, 255, 255, 255}, {255, 0, 255, 255}};

// Writes the six faces, each in its own colour, and returns the folder with a trailing separator.
std::string writeFaces(const TempDir& dir, int count = 6)
{
    for (int i = 0; i < count; ++i)
    {
        const osg::Vec4ub& c = kFaceColours[i];
        EXPECT_TRUE(osgDB::writeImageFile(*makeSolidImage(16, c[0], c[1], c[2]), dir.file(kFaceFiles[i])));
    }
    return dir.path().string() + "/";
}

struct SkyBoxParts
{
    osg::ClearNode* clearNode = nullptr;
    osg::Transform* transform = nullptr;
    osg::Geode* geode = nullptr;
    osg::TextureCubeMap* cubeMap = nullptr;
};

SkyBoxParts dissect(osg::Node* node)
{
    SkyBoxParts parts;
    parts.clearNode = dynamic_cast<osg::ClearNode*>(node);
    if (!parts.clearNode || parts.clearNode->getNumChildren() != 1)
        return parts;
    parts.transform = dynamic_cast<MoveEarthySkyWithEyePointTransform*>(parts.clearNode->getChild(0));
    if (!parts.transform || parts.transform->getNumChildren() != 1)
        return parts;
    parts.geode = parts.transform->getChild(0)->asGeode();
    if (parts.geode && parts.geode->getStateSet())
        parts.cubeMap = dynamic_cast<osg::TextureCubeMap*>(
            parts.geode->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    return parts;
}

} // namespace

TEST(SkyBox, BuildsTheClearNodeTransformGeodeChain)
{
    TempDir dir;
    const std::string folder = writeFaces(dir);
    NotifyCapture log(osg::NOTICE);
    osg::ref_ptr<osg::Node> sky = createSkyBox(folder);
    EXPECT_TRUE(log.contains("path " + folder + "posX.jpg"));

    const SkyBoxParts parts = dissect(sky.get());
    ASSERT_NE(parts.clearNode, nullptr);
    ASSERT_NE(parts.transform, nullptr);
    ASSERT_NE(parts.geode, nullptr);
    ASSERT_NE(parts.cubeMap, nullptr);
    EXPECT_NE(dynamic_cast<TexMatCallback*>(parts.clearNode->getCullCallback()), nullptr);
    EXPECT_FALSE(parts.transform->getCullingActive());
    EXPECT_FALSE(parts.geode->getCullingActive());
    for (unsigned int face = 0; face < 6; ++face)
        EXPECT_NE(parts.cubeMap->getImage(face), nullptr) << "face " << face;

    const osg::StateSet* stateSet = parts.geode->getStateSet();
    EXPECT_EQ(stateSet->getBinNumber(), -1);
    const auto* texGen =
        dynamic_cast<const osg::TexGen*>(stateSet->getTextureAttribute(0, osg::StateAttribute::TEXGEN));
    ASSERT_NE(texGen, nullptr);
    EXPECT_EQ(texGen->getMode(), osg::TexGen::NORMAL_MAP);
    const auto* depth = dynamic_cast<const osg::Depth*>(stateSet->getAttribute(osg::StateAttribute::DEPTH));
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->getFunction(), osg::Depth::ALWAYS);
    EXPECT_EQ(depth->getZNear(), 1.0);
    EXPECT_EQ(depth->getZFar(), 1.0);
    EXPECT_EQ(stateSet->getMode(GL_LIGHTING), osg::StateAttribute::OFF);
}

TEST(SkyBox, MissingFaceLeavesTheCubeMapEmpty)
{
    TempDir dir;
    const std::string folder = writeFaces(dir, 5);
    NotifyCapture quiet(osg::FATAL);
    osg::ref_ptr<osg::Node> sky = createSkyBox(folder);
    const SkyBoxParts parts = dissect(sky.get());
    ASSERT_NE(parts.cubeMap, nullptr);
    for (unsigned int face = 0; face < 6; ++face)
        EXPECT_EQ(parts.cubeMap->getImage(face), nullptr) << "face " << face;
}

TEST(SkyBox, EyePointTransformFollowsOnlyTheCullVisitor)
{
    osg::ref_ptr<MoveEarthySkyWithEyePointTransform> transform = new MoveEarthySkyWithEyePointTransform;
    osg::Matrix matrix = osg::Matrix::translate(1, 2, 3);
    osg::NodeVisitor plain;
    EXPECT_TRUE(transform->computeLocalToWorldMatrix(matrix, &plain));
    EXPECT_EQ(matrix, osg::Matrix::translate(1, 2, 3));
    EXPECT_TRUE(transform->computeWorldToLocalMatrix(matrix, &plain));
    EXPECT_EQ(matrix, osg::Matrix::translate(1, 2, 3));
}

TEST(SkyBoxRender, ShowsAllSixFacesAroundTheEye)
{
    TempDir dir;
    osg::ref_ptr<osg::Node> sky = createSkyBox(writeFaces(dir));

    const osg::Vec3d directions[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    std::set<int> facesSeen;
    for (const osg::Vec3d& direction : directions)
    {
        // The eye stands far from the origin: the sky must follow it and still surround it.
        const osg::Vec3d eye(500.0, -200.0, 50.0);
        const osg::Vec3d up = direction.z() != 0.0 ? osg::Vec3d(0, 1, 0) : osg::Vec3d(0, 0, 1);
        std::string why;
        osg::ref_ptr<osg::Image> image = renderOffscreen(
            sky.get(), 32, 32, [&](osg::Camera& camera) { camera.setViewMatrixAsLookAt(eye, eye + direction, up); },
            &why);
        ASSERT_TRUE(image.valid()) << why;

        const osg::Vec4ub centre = pixelAt(*image, 16, 16);
        int face = -1;
        for (int i = 0; i < 6; ++i)
            if (colourNear(centre, kFaceColours[i], 24))
                face = i;
        EXPECT_NE(face, -1) << "looking along " << direction << " shows " << describe(centre);
        facesSeen.insert(face);
    }
    EXPECT_EQ(facesSeen.size(), 6u) << "each direction shows a different face";
}
