// The scene the reader makes of a small file written here: structure, names, user values, exact
// sizes in metres (the file is in millimetres) and colours.
#include "GeneratedIfc.h"
#include "SceneQueries.h"
#include "TempDir.h"

#include <SolvoEarthKits/progress/NodeId.h>
#include <SolvoEarthUtil/loading/ReadNodeFromMemory.h>

#include <osg/ComputeBoundsVisitor>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/MatrixTransform>

#include <gtest/gtest.h>

using namespace veltra::test;
using ReadResult = osgDB::ReaderWriter::ReadResult;

namespace {

struct WallCase
{
    const char* nodeName;
    int elementId;
    osg::Vec3 min;
    osg::Vec3 max;
    osg::Vec4 diffuse;
    bool transparent;
};

const WallCase kWalls[] = {
    {"Wall A [100]", 100, {1.0f, 2.0f, 0.0f}, {5.0f, 2.2f, 3.0f}, {0.8f, 0.2f, 0.1f, 1.0f}, false},
    {"Wall:Ext:777", 777, {0.0f, 0.0f, 0.0f}, {0.2f, 3.0f, 2.5f}, {0.1f, 0.3f, 0.9f, 0.5f}, true},
};

class IfcScene : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ReadResult result = readModelFile(folder.write("two-walls.ifc", twoWallIfc()));
        ASSERT_TRUE(result.validNode()) << result.message();
        model = result.getNode();
    }

    TempDir folder;
    osg::ref_ptr<osg::Node> model;
};

} // namespace

TEST_F(IfcScene, TopIsATransformNamedAfterTheProjectOverTheSpatialStructure)
{
    auto* top = dynamic_cast<osg::MatrixTransform*>(model.get());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->getName(), "Two Walls");
    EXPECT_EQ(userText(*top, "ifcClass"), "IfcProject");
    EXPECT_EQ(userText(*top, "globalId"), "0Proj000000000000000001");

    const char* const chain[][3] = {{"IfcSite", "Site", "0Site000000000000000001"},
                                    {"IfcBuilding", "Building", "0Bldg000000000000000001"},
                                    {"IfcBuildingStorey", "Ground Floor", "0Stor000000000000000001"}};
    osg::Group* parent = top;
    for (const auto& [ifcClass, name, globalId] : chain)
    {
        ASSERT_EQ(parent->getNumChildren(), 1u) << "below " << parent->getName();
        osg::Group* child = parent->getChild(0)->asGroup();
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->getName(), name);
        EXPECT_EQ(userText(*child, "ifcClass"), ifcClass);
        EXPECT_EQ(userText(*child, "name"), name);
        EXPECT_EQ(userText(*child, "globalId"), globalId);
        parent = child;
    }
    ASSERT_EQ(parent->getNumChildren(), 2u) << "the storey holds both walls";
    for (unsigned i = 0; i < 2; ++i)
        EXPECT_NE(parent->getChild(i)->asGeode(), nullptr);
}

TEST_F(IfcScene, WallsHaveTheirIdsExactSizeInMetresAndColour)
{
    SceneIndex index(*model);
    EXPECT_EQ(index.geodeCount, 2u);
    for (const WallCase& wall : kWalls)
    {
        SCOPED_TRACE(wall.nodeName);
        ASSERT_EQ(index.geodes.count(wall.nodeName), 1u);
        osg::Geode& geode = *index.geodes[wall.nodeName];
        EXPECT_EQ(SolvoEarthUtil::nodeIdFromName(geode.getName()), wall.elementId);
        EXPECT_EQ(userText(geode, "ifcClass"), "IfcWall");

        osg::ComputeBoundsVisitor bounds;
        geode.accept(bounds);
        for (int axis = 0; axis < 3; ++axis)
        {
            EXPECT_NEAR(bounds.getBoundingBox()._min[axis], wall.min[axis], 1e-4) << "axis " << axis;
            EXPECT_NEAR(bounds.getBoundingBox()._max[axis], wall.max[axis], 1e-4) << "axis " << axis;
        }

        ASSERT_GE(geode.getNumDrawables(), 1u);
        const osg::Geometry* geometry = geode.getDrawable(0)->asGeometry();
        ASSERT_NE(geometry, nullptr);
        EXPECT_EQ(geometry->getNormalArray()->getNumElements(), geometry->getVertexArray()->getNumElements());
        EXPECT_EQ(geometry->getVertexArray()->getNumElements() % 3, 0u) << "triangles";
        const osg::StateSet* stateSet = geometry->getStateSet();
        ASSERT_NE(stateSet, nullptr);
        const auto* material =
            dynamic_cast<const osg::Material*>(stateSet->getAttribute(osg::StateAttribute::MATERIAL));
        ASSERT_NE(material, nullptr);
        const osg::Vec4 diffuse = material->getDiffuse(osg::Material::FRONT);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(diffuse[c], wall.diffuse[c], 1e-3) << "component " << c;
        EXPECT_EQ(stateSet->getRenderingHint() == osg::StateSet::TRANSPARENT_BIN, wall.transparent);
    }
}

TEST_F(IfcScene, NormalsPointOutOfTheSolid)
{
    SceneIndex index(*model);
    const osg::Geometry* geometry = index.geodes["Wall A [100]"]->getDrawable(0)->asGeometry();
    const auto* vertices = static_cast<const osg::Vec3Array*>(geometry->getVertexArray());
    const auto* normals = static_cast<const osg::Vec3Array*>(geometry->getNormalArray());
    const osg::Vec3 centre(3.0f, 2.1f, 1.5f);
    for (size_t i = 0; i < vertices->size(); ++i)
        EXPECT_GT(((*vertices)[i] - centre) * (*normals)[i], 0.0f) << "vertex " << i;
}

TEST_F(IfcScene, ReadFromMemoryEqualsReadFromFile)
{
    ReadResult fromMemory =
        SolvoEarthUtil::readNodeFromMemory(twoWallIfc(), "/models/two-walls.ifc", std::string(), nullptr);
    ASSERT_TRUE(fromMemory.validNode()) << fromMemory.message();
    EXPECT_EQ(fromMemory.getNode()->getName(), "Two Walls");
    SceneIndex index(*fromMemory.getNode());
    EXPECT_EQ(index.geodes.count("Wall A [100]") + index.geodes.count("Wall:Ext:777"), 2u);
}
