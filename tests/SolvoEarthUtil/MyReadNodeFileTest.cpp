#include <SolvoEarthUtil/loading/CacheWrites.h>
#include <SolvoEarthUtil/loading/MyReadNodeFile.h>

#include "LoopbackHttp.h"
#include "NotifyCapture.h"
#include "TempDir.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osgDB/FileCache>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

using SolvoEarthUtil::MyReadNodeFile;
using SolvoEarthUtil::waitForCacheWrites;
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
    void TearDown() override
    {
        waitForCacheWrites();
        osgDB::Registry::instance()->setFileCache(nullptr);
    }

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
    waitForCacheWrites();
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
    waitForCacheWrites();
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

namespace {

// Two equal parts, each with its own copy of the drawable's state set, as exporters write them.
osg::ref_ptr<osg::Group> makeTwoParts(const std::string& name)
{
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->setName(name);
    for (int id = 1; id <= 2; ++id)
    {
        osg::ref_ptr<osg::Geometry> geometry = osg::createTexturedQuadGeometry(osg::Vec3(static_cast<float>(id), 0, 0),
                                                                               osg::Vec3(1, 0, 0), osg::Vec3(0, 0, 1));
        geometry->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName("Element [" + std::to_string(id) + "]");
        part->addDrawable(geometry.get());
        model->addChild(part.get());
    }
    return model;
}

std::string serialized(const osg::Node& model, const std::string& extension)
{
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension(extension);
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setPluginStringData("fileType", extension == "osgt" ? "Ascii" : "Binary");
    std::ostringstream out;
    EXPECT_TRUE(writer->writeNode(model, out, options.get()).success());
    return out.str();
}

std::string contentOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A server of models, with the file cache on in a folder of its own.
class MyReadNodeFileNet : public ::testing::TestWithParam<std::string>
{
protected:
    void SetUp() override
    {
        cache = new osgDB::FileCache(cacheDir.path().string());
        osgDB::Registry::instance()->setFileCache(cache.get());
    }
    void TearDown() override
    {
        waitForCacheWrites();
        osgDB::Registry::instance()->setFileCache(nullptr);
    }

    std::string served(const std::string& extension) { return extension == "osgt" ? _text : _binary; }

    const std::string _text = serialized(*makeTwoParts("served"), "osgt");
    const std::string _binary = serialized(*makeTwoParts("served"), "osgb");
    LoopbackHttpServer server{[this](const HttpRequest& request) -> HttpResponse {
        if (request.target == "/models/part.osgt" || request.target == "/get?filename=part.osgt")
            return {200, {}, _text, {}};
        if (request.target == "/models/part.osgb")
            return {200, {}, _binary, {}};
        if (request.target == "/models/broken.osgb")
            return {200, {}, "not a model at all", {}};
        if (request.target == "/models/part")
            return {200, {{"Content-Type", "application/x-veltra-test-model; charset=binary"}}, _binary, {}};
        return {404, {}, {}, {}};
    }};
    TempDir cacheDir;
    osg::ref_ptr<osgDB::FileCache> cache;
};

} // namespace

TEST_P(MyReadNodeFileNet, DownloadsOnceCachesTheBytesAsServedAndReadsThemBack)
{
    const std::string url = server.url("/models/part." + GetParam());
    osg::ref_ptr<osg::Node> first = MyReadNodeFile(url);
    ASSERT_TRUE(first.valid());
    EXPECT_EQ(first->getName(), "served");
    // Read at once, while its cache entry may still be on its way to the disk.
    osg::ref_ptr<osg::Node> again = MyReadNodeFile(url);
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(again->getName(), "served");
    EXPECT_EQ(server.requestCount(), 1u);

    waitForCacheWrites();
    EXPECT_EQ(contentOf(cache->createCacheFileName(url)), served(GetParam())) << "the bytes, not a rewrite";
    osg::ref_ptr<osg::Node> cached = MyReadNodeFile(url);
    ASSERT_TRUE(cached.valid());
    EXPECT_EQ(cached->getName(), "served");
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(cached->asGroup()->getChild(1)->getName(), "Element [2]");
}

TEST_P(MyReadNodeFileNet, AnUnreadableCacheEntryIsReplacedByTheModel)
{
    const std::string url = server.url("/models/part." + GetParam());
    const std::string entry = cache->createCacheFileName(url);
    std::filesystem::create_directories(std::filesystem::path(entry).parent_path());
    std::ofstream(entry, std::ios::binary) << "garbage";
    NotifyCapture log(osg::WARN);
    osg::ref_ptr<osg::Node> node = MyReadNodeFile(url);
    ASSERT_TRUE(node.valid());
    EXPECT_EQ(node->getName(), "served");
    EXPECT_TRUE(log.contains("unreadable"));
    waitForCacheWrites();
    EXPECT_EQ(contentOf(entry), served(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Formats, MyReadNodeFileNet, ::testing::Values("osgt", "osgb"));

TEST_F(MyReadNodeFileNet, ElementsThatLookTheSameShareTheirDrawableState)
{
    osg::ref_ptr<osg::Node> model = MyReadNodeFile(server.url("/models/part.osgb"));
    ASSERT_TRUE(model.valid());
    osg::Group* parts = model->asGroup();
    ASSERT_EQ(parts->getNumChildren(), 2u);
    const osg::Drawable* first = parts->getChild(0)->asGeode()->getDrawable(0);
    const osg::Drawable* second = parts->getChild(1)->asGeode()->getDrawable(0);
    EXPECT_EQ(first->getStateSet(), second->getStateSet());
    EXPECT_NE(parts->getChild(0), parts->getChild(1));
}

TEST_F(MyReadNodeFileNet, TheFormatComesFromTheFileNameParameterOrTheContentType)
{
    osgDB::Registry::instance()->addMimeTypeExtensionMapping("application/x-veltra-test-model", "osgb");
    osg::ref_ptr<osg::Node> named = MyReadNodeFile(server.url("/get?filename=part.osgt"));
    ASSERT_TRUE(named.valid());
    EXPECT_EQ(named->getName(), "served");
    osg::ref_ptr<osg::Node> typed = MyReadNodeFile(server.url("/models/part"));
    ASSERT_TRUE(typed.valid());
    EXPECT_EQ(typed->getName(), "served");
    osgDB::Registry::instance()->getMimeTypeExtensionMap().erase("application/x-veltra-test-model");
}

TEST_F(MyReadNodeFileNet, MissingAndBrokenModelsAreAskedForOnceAndNotCached)
{
    for (const std::string target : {"/models/missing.osgb", "/models/broken.osgb"})
    {
        const std::string url = server.url(target);
        const size_t before = server.requestCount();
        NotifyCapture log(osg::WARN);
        EXPECT_EQ(MyReadNodeFile(url), nullptr) << target;
        EXPECT_EQ(server.requestCount(), before + 1) << target << " is not fetched a second time";
        EXPECT_TRUE(log.contains(url)) << target << " is named in the warning";
        waitForCacheWrites();
        EXPECT_FALSE(cache->existsInCache(url)) << target;
    }
}
