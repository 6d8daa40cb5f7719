#include <SolvoEarthUtil/scene/NodeSearch.h>

#include <osg/Geode>
#include <osg/MatrixTransform>

#include <gtest/gtest.h>

using namespace SolvoEarthUtil;

namespace {

// root
//   building            (Group)
//     wall[101]         (Geode)
//     floor:2:[102]     (MatrixTransform)
//       wall[103]       (Geode)
//   site                (Group)
//     wall[104]         (Geode)
class NodeSearch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = new osg::Group;
        building = add(root.get(), new osg::Group, "building")->asGroup();
        wall101 = add(building, new osg::Geode, "wall[101]");
        floor = add(building, new osg::MatrixTransform, "floor:2:[102]");
        wall103 = add(floor->asGroup(), new osg::Geode, "wall[103]");
        site = add(root.get(), new osg::Group, "site");
        wall104 = add(site->asGroup(), new osg::Geode, "wall[104]");
    }

    void TearDown() override { g_skips.clear(); }

    static osg::Node* add(osg::Group* parent, osg::Node* child, const std::string& name)
    {
        child->setName(name);
        parent->addChild(child);
        return child;
    }

    osg::ref_ptr<osg::Group> root;
    osg::Group* building = nullptr;
    osg::Node *wall101 = nullptr, *floor = nullptr, *wall103 = nullptr, *site = nullptr, *wall104 = nullptr;
};

} // namespace

TEST_F(NodeSearch, EmptyNameAndNoClassListsTheWholeSubtreeParentsFirst)
{
    const std::vector<osg::Node*> all = findNodesByName(root.get(), "", nullptr);
    EXPECT_EQ(all, (std::vector<osg::Node*>{building, wall101, floor, wall103, site, wall104}));
}

TEST_F(NodeSearch, NameIsACaseSensitiveSubstring)
{
    EXPECT_EQ(findNodesByName(root.get(), "[10", nullptr), (std::vector<osg::Node*>{wall101, floor, wall103, wall104}));
    EXPECT_EQ(findNodesByName(root.get(), ":2:", nullptr), (std::vector<osg::Node*>{floor}));
    EXPECT_TRUE(findNodesByName(root.get(), "WALL", nullptr).empty());
    EXPECT_EQ(findNodeByName(root.get(), "wall", nullptr), wall101);
    EXPECT_EQ(findNodeByName(root.get(), "nothing", nullptr), nullptr);
}

TEST_F(NodeSearch, ClassNameMustMatchExactly)
{
    EXPECT_EQ(findNodesByName(root.get(), "", "Geode"), (std::vector<osg::Node*>{wall101, wall103, wall104}));
    EXPECT_EQ(findNodesByName(root.get(), "wall", "MatrixTransform"), (std::vector<osg::Node*>{}));
    EXPECT_EQ(findNodeByName(root.get(), "[1", "MatrixTransform"), floor);
    EXPECT_TRUE(findNodesByName(root.get(), "", "Geod").empty());
}

TEST_F(NodeSearch, SkippedNodesHideTheirSubtrees)
{
    g_skips.insert(building);
    EXPECT_EQ(findNodesByName(root.get(), "wall", nullptr), (std::vector<osg::Node*>{wall104}));
    EXPECT_EQ(findNodeByName(root.get(), "wall", "Geode"), wall104);
    EXPECT_EQ(findNodesByClassName(root.get(), "MatrixTransform"), (std::vector<osg::Node*>{}));

    g_skips.insert(root.get());
    EXPECT_TRUE(findNodesByName(root.get(), "", nullptr).empty()) << "a skipped start finds nothing";
    EXPECT_EQ(findNodeByClassName(root.get(), nullptr), nullptr);
}

TEST_F(NodeSearch, AppendingFormKeepsEarlierEntries)
{
    std::vector<osg::Node*> out{root.get()};
    findNodesByName(out, site->asGroup(), "", nullptr);
    EXPECT_EQ(out, (std::vector<osg::Node*>{root.get(), wall104}));
    findNodesByClassName(out, building, "MatrixTransform");
    EXPECT_EQ(out, (std::vector<osg::Node*>{root.get(), wall104, floor}));
}

TEST_F(NodeSearch, ClassSearchMatchesEverythingForAnEmptyOrNullClass)
{
    EXPECT_EQ(findNodesByClassName(root.get(), "").size(), 6u);
    EXPECT_EQ(findNodesByClassName(root.get(), nullptr).size(), 6u);
    EXPECT_EQ(findNodesByClassName(root.get(), "Group"), (std::vector<osg::Node*>{building, site}));
    EXPECT_EQ(findNodeByClassName(root.get(), "Geode"), wall101);
}

TEST_F(NodeSearch, NullGroupFindsNothing)
{
    EXPECT_TRUE(findNodesByName(nullptr, "", nullptr).empty());
    EXPECT_EQ(findNodeByName(nullptr, "", nullptr), nullptr);
    EXPECT_TRUE(findNodesByClassName(nullptr, nullptr).empty());
}

TEST_F(NodeSearch, SharedChildIsFoundOnEveryPath)
{
    site->asGroup()->addChild(floor);
    EXPECT_EQ(findNodesByName(root.get(), ":2:", nullptr), (std::vector<osg::Node*>{floor, floor}));
}
