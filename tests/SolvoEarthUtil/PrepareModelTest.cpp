#include <SolvoEarthUtil/loading/PrepareModel.h>
#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include "OffscreenRender.h"
#include "PartFixtures.h"

#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osg/ShapeDrawable>
#include <osg/ValueObject>

#include <gtest/gtest.h>

#include <set>

using SolvoEarthUtil::prepareLoadedModel;
using namespace veltra::test;

namespace {

// A model with what a page controls parts by, and what it may read about them.
osg::ref_ptr<osg::Group> makeControlledModel()
{
    osg::ref_ptr<osg::Group> building = new osg::Group;
    building->setName("Building");
    building->setUserValue("fileName", std::string("tower.osgb"));
    building->addDescription("storeys: 3");
    osg::ref_ptr<osg::MatrixTransform> storey = new osg::MatrixTransform(osg::Matrix::translate(0, 0, 3));
    storey->setName("Storey 1");
    building->addChild(storey.get());
    for (int id = 1; id <= 3; ++id)
        storey->addChild(makePart(id, static_cast<float>(id), osg::Vec4(1, 0, 0, 1)).get());
    storey->getChild(1)->setNodeMask(0);
    storey->getChild(2)->setUpdateCallback(new osg::NodeCallback);
    osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD;
    paged->setFileName(0, "tile.osgb");
    paged->setRange(0, 0.0f, 50.0f);
    building->addChild(paged.get());
    return building;
}

} // namespace

TEST(PrepareLoadedModel, KeepsEveryPartWithWhatItIsControlledBy)
{
    osg::ref_ptr<osg::Group> original = makeControlledModel();
    osg::Group* originalStorey = original->getChild(0)->asGroup();
    std::vector<osg::ref_ptr<osg::StateSet>> ownStates;
    for (unsigned i = 0; i < originalStorey->getNumChildren(); ++i)
        ownStates.push_back(originalStorey->getChild(i)->getStateSet());
    osg::ref_ptr<osg::Callback> callback = originalStorey->getChild(2)->getUpdateCallback();

    osg::ref_ptr<osg::Node> prepared = original;
    prepareLoadedModel(prepared);
    ASSERT_TRUE(prepared.valid());
    EXPECT_NE(prepared, original) << "a compact copy";
    osg::Group* building = prepared->asGroup();
    ASSERT_NE(building, nullptr);
    EXPECT_EQ(building->getName(), "Building");
    std::string fileName;
    EXPECT_TRUE(building->getUserValue("fileName", fileName));
    EXPECT_EQ(fileName, "tower.osgb");
    ASSERT_EQ(building->getDescriptions().size(), 1u);
    EXPECT_EQ(building->getDescription(0), "storeys: 3");

    auto* storey = dynamic_cast<osg::MatrixTransform*>(building->getChild(0));
    ASSERT_NE(storey, nullptr);
    EXPECT_EQ(storey->getMatrix(), osg::Matrix::translate(0, 0, 3));
    ASSERT_EQ(storey->getNumChildren(), 3u);
    std::set<const osg::StateSet*> nodeStates;
    for (unsigned i = 0; i < 3; ++i)
    {
        osg::Node* part = storey->getChild(i);
        EXPECT_EQ(part->getName(), "Element [" + std::to_string(i + 1) + "]");
        ASSERT_NE(part->getStateSet(), nullptr);
        EXPECT_EQ(part->getStateSet()->compare(*ownStates[i], true), 0) << "the part's own state, as it was";
        nodeStates.insert(part->getStateSet());
        EXPECT_EQ(geometryOf(part)->getStateSet(), geometryOf(storey->getChild(0))->getStateSet());
    }
    EXPECT_EQ(nodeStates.size(), 3u) << "each part keeps a state set of its own";
    EXPECT_EQ(storey->getChild(1)->getNodeMask(), 0u);
    EXPECT_EQ(storey->getChild(2)->getUpdateCallback(), callback.get());
    EXPECT_GT(building->getNumChildrenRequiringUpdateTraversal(), 0u) << "the update still reaches the part";

    auto* paged = dynamic_cast<osg::PagedLOD*>(building->getChild(1));
    ASSERT_NE(paged, nullptr);
    EXPECT_EQ(paged->getFileName(0), "tile.osgb");
    EXPECT_EQ(paged->getMaxRange(0), 50.0f);
}

TEST(PrepareLoadedModel, ShapesKeepTheirDisplayListsAndNothingIsNothing)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
    osg::ref_ptr<osg::Node> prepared = geode;
    prepareLoadedModel(prepared);
    ASSERT_TRUE(prepared.valid());
    EXPECT_TRUE(prepared->asGeode()->getDrawable(0)->getUseDisplayList());
    osg::ref_ptr<osg::Node> nothing;
    prepareLoadedModel(nothing);
    EXPECT_FALSE(nothing.valid());
}

TEST(PrepareLoadedModel, GeometriesDrawFromSharedBuffersOfBoundedSize)
{
    // About 1.2 MB of vertices and as much of normals a part: a few parts fill a buffer.
    const unsigned vertexCount = 100000;
    osg::ref_ptr<osg::Node> model = makeModel(8, vertexCount);
    prepareLoadedModel(model);

    std::set<osg::BufferObject*> vertexBuffers;
    for (unsigned i = 0; i < model->asGroup()->getNumChildren(); ++i)
    {
        osg::Geometry* geometry = geometryOf(model->asGroup()->getChild(i));
        EXPECT_FALSE(geometry->getUseDisplayList());
        EXPECT_TRUE(geometry->getUseVertexBufferObjects());
        ASSERT_NE(geometry->getVertexArray()->getBufferObject(), nullptr);
        vertexBuffers.insert(geometry->getVertexArray()->getBufferObject());
    }
    EXPECT_GT(vertexBuffers.size(), 1u);
    EXPECT_LT(vertexBuffers.size(), model->asGroup()->getNumChildren()) << "parts share buffers";
    for (osg::BufferObject* buffer : vertexBuffers)
    {
        size_t bytes = 0;
        for (unsigned i = 0; i < buffer->getNumBufferData(); ++i)
            bytes += buffer->getBufferData(i)->getTotalDataSize();
        EXPECT_LE(bytes, SolvoEarthUtil::kSharedBufferBytes);
    }
}

namespace {

// Three squares: red, red, green. Left to right at x = -1.5, 0, 1.5.
osg::ref_ptr<osg::Group> makeRow()
{
    osg::ref_ptr<osg::Group> row = new osg::Group;
    row->addChild(makePart(1, -1.5f, osg::Vec4(1, 0, 0, 1)));
    row->addChild(makePart(2, 0.0f, osg::Vec4(1, 0, 0, 1)));
    row->addChild(makePart(3, 1.5f, osg::Vec4(0, 1, 0, 1)));
    return row;
}

struct RowColours
{
    osg::Vec4ub left, middle, right;
};

RowColours renderRow(osg::Node* row, std::string& why)
{
    osg::ref_ptr<osg::Image> image = renderOffscreen(
        row, 96, 32,
        [](osg::Camera& camera) {
            camera.setClearColor(osg::Vec4(0, 0, 1, 1));
            camera.setProjectionMatrixAsOrtho(-2.25, 2.25, -0.75, 0.75, 0.1, 10.0);
            camera.setViewMatrixAsLookAt(osg::Vec3d(0, -4, 0), osg::Vec3d(), osg::Vec3d(0, 0, 1));
        },
        &why);
    if (!image.valid())
        return {};
    return {pixelAt(*image, 16, 16), pixelAt(*image, 48, 16), pixelAt(*image, 80, 16)};
}

} // namespace

TEST(PrepareLoadedModelRender, PreparedPartsDrawAsBeforeAndStayControllableOneByOne)
{
    const osg::Vec4ub red(255, 0, 0, 255), green(0, 255, 0, 255), blue(0, 0, 255, 255);
    osg::ref_ptr<osg::Node> row = makeRow();
    prepareLoadedModel(row);
    std::string why;
    RowColours colours = renderRow(row.get(), why);
    ASSERT_TRUE(why.empty()) << why;
    EXPECT_TRUE(colourNear(colours.left, red)) << describe(colours.left);
    EXPECT_TRUE(colourNear(colours.middle, red)) << describe(colours.middle);
    EXPECT_TRUE(colourNear(colours.right, green)) << describe(colours.right);

    // A highlight on one part, and another part hidden: the others look as they did.
    row = makeRow();
    prepareLoadedModel(row);
    SolvoEarthUtil::setModelHighLight(row->asGroup()->getChild(1), osg::Vec4f(1, 1, 0, 1));
    row->asGroup()->getChild(2)->setNodeMask(0);
    colours = renderRow(row.get(), why);
    EXPECT_TRUE(colourNear(colours.left, red)) << describe(colours.left);
    EXPECT_TRUE(colourNear(colours.middle, osg::Vec4ub(255, 255, 0, 255))) << describe(colours.middle);
    EXPECT_TRUE(colourNear(colours.right, blue)) << describe(colours.right);
}
