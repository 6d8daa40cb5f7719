// The viewer's file cache keeps an IFC model as the model it makes (".osgb"), not as IFC text.
#include "GeneratedIfc.h"
#include "SceneQueries.h"
#include "TempDir.h"

#include <SolvoEarthUtil/loading/CacheWrites.h>
#include <SolvoEarthUtil/loading/MyReadNodeFile.h>

#include <osgDB/FileCache>

#include <gtest/gtest.h>

#include <filesystem>

using namespace veltra::test;

namespace {

class IfcCache : public ::testing::Test
{
protected:
    void SetUp() override { osgDB::Registry::instance()->setFileCache(new osgDB::FileCache(cacheDir.path().string())); }

    void TearDown() override
    {
        SolvoEarthUtil::waitForCacheWrites();
        osgDB::Registry::instance()->setFileCache(nullptr);
    }

    static osg::ref_ptr<osg::Node> load(const std::string& path)
    {
        return osg::ref_ptr<osg::Node>(SolvoEarthUtil::MyReadNodeFile(path));
    }

    TempDir models;
    TempDir cacheDir;
};

} // namespace

TEST_F(IfcCache, SecondLoadReadsTheConvertedModelWithNamesAndUserValues)
{
    const std::string path = models.write("two-walls.ifc", twoWallIfc());
    osg::ref_ptr<osg::Node> first = load(path);
    ASSERT_TRUE(first.valid());
    SolvoEarthUtil::waitForCacheWrites();

    osg::ref_ptr<osgDB::FileCache> cache = osgDB::Registry::instance()->getFileCache();
    ASSERT_TRUE(cache->existsInCache(path + ".osgb"));
    EXPECT_FALSE(cache->existsInCache(path)) << "the IFC text is not kept";

    // The file itself is now unreadable: the model can only come from the cache.
    models.write("two-walls.ifc", "not IFC any more");
    osg::ref_ptr<osg::Node> second = load(path);
    ASSERT_TRUE(second.valid());
    EXPECT_EQ(second->getName(), "Two Walls");
    SceneIndex index(*second);
    ASSERT_EQ(index.geodes.count("Wall A [100]"), 1u);
    EXPECT_EQ(userText(*index.geodes["Wall A [100]"], "globalId"), "0WallA00000000000000001");
    EXPECT_EQ(index.groupsOfClass["IfcBuildingStorey"].size(), 1u);
}

TEST_F(IfcCache, ABrokenFileIsNeitherLoadedNorCached)
{
    const std::string path = models.write("broken.ifc", twoWallIfcWith("FILE_SCHEMA", "FILE_SCHEMA(('IFC4X3'));"));
    EXPECT_FALSE(load(path).valid());
    SolvoEarthUtil::waitForCacheWrites();
    EXPECT_FALSE(osgDB::Registry::instance()->getFileCache()->existsInCache(path + ".osgb"));
}
