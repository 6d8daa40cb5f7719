#include <SolvoEarthUtil/loading/MyReadNodeFile.h>

#include "TempDir.h"

#include <osg/Group>
#include <osgDB/FileCache>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

using SolvoEarthUtil::MyReadNodeFile;
using namespace veltra::test;

namespace {

// Stands in for a zip archive reader (Debian's OpenSceneGraph has none): reads any existing
// "x.zip" as a group named after it, and counts its reads.
class ZipStandIn : public osgDB::ReaderWriter
{
public:
    ZipStandIn() { supportsExtension("zip", "test stand-in for zip archives"); }
    ReadResult readNode(const std::string& fileName, const Options*) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(fileName)))
            return ReadResult::FILE_NOT_HANDLED;
        if (!osgDB::fileExists(fileName))
            return ReadResult::FILE_NOT_FOUND;
        ++reads;
        osg::ref_ptr<osg::Group> group = new osg::Group;
        group->setName("from " + osgDB::getSimpleFileName(fileName));
        return group.release();
    }
    mutable std::atomic<int> reads{0};
};

class MyReadNodeFileTest : public ::testing::Test
{
protected:
    void TearDown() override { osgDB::Registry::instance()->setFileCache(nullptr); }

    std::string writeModel(const std::string& name, const std::string& groupName)
    {
        osg::ref_ptr<osg::Group> group = new osg::Group;
        group->setName(groupName);
        const std::string path = models.file(name);
        EXPECT_TRUE(osgDB::writeNodeFile(*group, path));
        return path;
    }

    TempDir models;
    TempDir cacheDir;
};

} // namespace

TEST_F(MyReadNodeFileTest, WithoutCacheReadsDirectly)
{
    const std::string path = writeModel("model.osgt", "direct");
    osg::ref_ptr<osg::Node> node = MyReadNodeFile(path);
    ASSERT_TRUE(node.valid());
    EXPECT_EQ(node->getName(), "direct");
    EXPECT_EQ(node->referenceCount(), 1);
    EXPECT_EQ(MyReadNodeFile(models.file("absent.osgt")), nullptr);
}

TEST_F(MyReadNodeFileTest, FirstReadFillsTheCacheAndLaterReadsUseIt)
{
    osg::ref_ptr<osgDB::FileCache> cache = new osgDB::FileCache(cacheDir.path().string());
    osgDB::Registry::instance()->setFileCache(cache.get());

    const std::string path = writeModel("model.osgt", "original");
    osg::ref_ptr<osg::Node> first = MyReadNodeFile(path);
    ASSERT_TRUE(first.valid());
    EXPECT_EQ(first->getName(), "original");
    ASSERT_TRUE(cache->existsInCache(path));

    // The model changes on disk; the cached copy is what the second read must give.
    writeModel("model.osgt", "changed");
    osg::ref_ptr<osg::Node> second = MyReadNodeFile(path);
    ASSERT_TRUE(second.valid());
    EXPECT_EQ(second->getName(), "original");
    EXPECT_EQ(second->referenceCount(), 1);
}

TEST_F(MyReadNodeFileTest, ZipModelsAreCachedUnderTheOsgbName)
{
    osg::ref_ptr<ZipStandIn> zipReader = new ZipStandIn;
    osgDB::Registry::instance()->addReaderWriter(zipReader.get());
    osg::ref_ptr<osgDB::FileCache> cache = new osgDB::FileCache(cacheDir.path().string());
    osgDB::Registry::instance()->setFileCache(cache.get());

    const std::string zipPath = models.write("tower.ZIP", "zip archive stand-in");
    const std::string key = osgDB::getNameLessExtension(zipPath) + ".osgb";

    osg::ref_ptr<osg::Node> first = MyReadNodeFile(zipPath);
    ASSERT_TRUE(first.valid());
    EXPECT_EQ(first->getName(), "from tower.ZIP") << "the model is read from the zip path";
    EXPECT_EQ(zipReader->reads, 1);
    EXPECT_TRUE(cache->existsInCache(key));
    EXPECT_FALSE(cache->existsInCache(zipPath));

    osg::ref_ptr<osg::Node> second = MyReadNodeFile(zipPath);
    ASSERT_TRUE(second.valid());
    EXPECT_EQ(second->getName(), "from tower.ZIP");
    EXPECT_EQ(zipReader->reads, 1) << "the second read comes from the cache";

    osgDB::Registry::instance()->removeReaderWriter(zipReader.get());
}

TEST_F(MyReadNodeFileTest, UnreadableModelWritesNothingToTheCache)
{
    osg::ref_ptr<osgDB::FileCache> cache = new osgDB::FileCache(cacheDir.path().string());
    osgDB::Registry::instance()->setFileCache(cache.get());
    const std::string path = models.file("absent.osgt");
    EXPECT_EQ(MyReadNodeFile(path), nullptr);
    EXPECT_FALSE(cache->existsInCache(path));
}
