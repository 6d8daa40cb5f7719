#include "TempDir.h"

#include <Zir/osgMainApp.h>

#include <SolvoEarthKits/selection/MarkNodeHighLightVistor.h>

#include <osg/Geode>
#include <osg/PagedLOD>
#include <osg/ShapeDrawable>
#include <osgDB/Registry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

using namespace veltra::test;

namespace {

// Two named parts and a paged part whose tiles load later.
std::string writeMarkedModel(const TempDir& dir)
{
    osg::ref_ptr<osg::Group> model = new osg::Group;
    for (const char* name : {"Element [1]", "Element [2]"})
    {
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName(name);
        part->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
        model->addChild(part.get());
    }
    osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD;
    paged->setFileName(0, "tile.osgb");
    paged->setRange(0, 0.0f, 100.0f);
    model->addChild(paged.get());
    const std::string path = dir.file("marked.osgt");
    EXPECT_TRUE(osgDB::writeNodeFile(*model, path));
    return path;
}

class HighlightMarksTest : public ::testing::Test
{
protected:
    osg::Group* loaded() { return app.root->getChild(0)->asGroup()->getChild(0)->asGroup(); }
    bool highlighted(unsigned child)
    {
        const osg::StateSet* state = loaded()->getChild(child)->getStateSet();
        return state && state->getAttribute(osg::StateAttribute::PROGRAM);
    }
    osg::PagedLOD* paged() { return dynamic_cast<osg::PagedLOD*>(loaded()->getChild(2)); }

    TempDir dir;
    std::string path = writeMarkedModel(dir);
    osgMainApp app;
};

} // namespace

TEST_F(HighlightMarksTest, NamesGivenBeforeALoadMarkItsElementsAndRouteItsPagedTiles)
{
    app.MarkNodeHighLight("Element [2]");
    ASSERT_EQ(app.loadfile(path), "");
    EXPECT_FALSE(highlighted(0));
    EXPECT_TRUE(highlighted(1));
    ASSERT_NE(paged(), nullptr);
    EXPECT_EQ(paged()->getFileName(0), "tile.osgb.nodemark");
    auto* options = dynamic_cast<const osgDB::Options*>(paged()->getDatabaseOptions());
    ASSERT_NE(options, nullptr);
    const auto* visitor =
        static_cast<const SolvoEarthUtil::MarkNodeHighLightVistor*>(options->getPluginData("HighLightVistor"));
    ASSERT_NE(visitor, nullptr);
    EXPECT_EQ(dynamic_cast<const SolvoEarthUtil::MarkNodeHighLightVistor*>(options->getUserData()), visitor)
        << "kept alive with the options";
}

TEST_F(HighlightMarksTest, NamesGivenAfterALoadMarkTheLoadedModelOnce)
{
    ASSERT_EQ(app.loadfile(path), "");
    EXPECT_FALSE(highlighted(1));
    EXPECT_EQ(paged()->getFileName(0), "tile.osgb");

    app.MarkNodeHighLight("Element [1], Element [2]");
    EXPECT_TRUE(highlighted(0));
    EXPECT_TRUE(highlighted(1));
    app.MarkNodeHighLight("Element [1]");
    EXPECT_EQ(paged()->getFileName(0), "tile.osgb.nodemark") << "routed once, whatever the number of marks";
}
