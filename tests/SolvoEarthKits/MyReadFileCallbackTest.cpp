#include <SolvoEarthKits/loading/MyReadFileCallback.h>

#include "LoopbackHttp.h"
#include "TempDir.h"

#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

using ReadResult = osgDB::ReaderWriter::ReadResult;
using namespace veltra::test;

namespace {

// The bytes of a PNG image of `width` x 1 pixels.
std::string pngBytes(int width)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(width, 1, 1, GL_RGB, GL_UNSIGNED_BYTE);
    std::fill(image->data(), image->data() + image->getTotalSizeInBytes(), 200);
    std::ostringstream out;
    osgDB::Registry::instance()->getReaderWriterForExtension("png")->writeImage(*image, out);
    return out.str();
}

HttpResponse png(int width)
{
    return {200, {{"Content-Type", "image/png"}}, pngBytes(width), {}};
}
HttpResponse notFound()
{
    return {404, {{"Content-Type", "text/plain"}}, "no such file", {}};
}

size_t countTarget(const LoopbackHttpServer& server, const std::string& target)
{
    auto requests = server.requests();
    return std::count_if(requests.begin(), requests.end(), [&](const HttpRequest& r) { return r.target == target; });
}

// Restores the registry's data file paths and read callback that a test changes.
class ReadFallback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _savedPaths = osgDB::Registry::instance()->getDataFilePathList();
        _savedCallback = osgDB::Registry::instance()->getReadFileCallback();
    }
    void TearDown() override
    {
        osgDB::Registry::instance()->setDataFilePathList(_savedPaths);
        osgDB::Registry::instance()->setReadFileCallback(_savedCallback.get());
    }
    static void setPaths(const osgDB::FilePathList& paths) { osgDB::Registry::instance()->setDataFilePathList(paths); }

    osg::ref_ptr<MyReadFileCallback> callback = new MyReadFileCallback;
    TempDir local;

private:
    osgDB::FilePathList _savedPaths;
    osg::ref_ptr<osgDB::ReadFileCallback> _savedCallback;
};

using MyReadFileCallbackNet = ReadFallback;
using MyReadFileCallbackThreads = ReadFallback;

} // namespace

TEST_F(MyReadFileCallbackNet, TriesServerPathsInOrderAndAnswersAFetchedUrlFromTheCache)
{
    LoopbackHttpServer server([](const HttpRequest& r) { return r.target == "/tex/wall.png" ? png(3) : notFound(); });
    setPaths({local.path().string(), server.url("/missing"), server.url("/tex/")});

    ReadResult first = callback->readImage("models/textures/wall.png", nullptr);
    ASSERT_TRUE(first.validImage()) << first.message();
    EXPECT_EQ(first.getImage()->s(), 3);
    EXPECT_EQ(first.getImage()->getWriteHint(), osg::Image::EXTERNAL_FILE);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u) << "the local folder is no server path";
    EXPECT_EQ(requests[0].target, "/missing/wall.png");
    EXPECT_EQ(requests[1].target, "/tex/wall.png");

    ReadResult again = callback->readImage("other/wall.png", nullptr);
    EXPECT_EQ(again.status(), ReadResult::FILE_LOADED_FROM_CACHE);
    EXPECT_EQ(again.getImage(), first.getImage());
    EXPECT_EQ(countTarget(server, "/tex/wall.png"), 1u) << "no second download";

    osg::ref_ptr<MyReadFileCallback> copy = new MyReadFileCallback(*callback);
    EXPECT_EQ(copy->readImage("wall.png", nullptr).getImage(), first.getImage()) << "a copy shares the cache";
    EXPECT_EQ(countTarget(server, "/tex/wall.png"), 1u);
}

TEST_F(MyReadFileCallbackNet, LocalResultsComeFirstAndAreNeverCached)
{
    LoopbackHttpServer server([](const HttpRequest& r) { return r.target == "/tex/wall.png" ? png(5) : notFound(); });
    const std::string localFile = local.write("wall.png", pngBytes(2));
    // The JPEG reader answers a broken file with a read error (the PNG reader only declines it).
    local.write("broken.jpg", "not a jpeg at all");
    setPaths({local.path().string(), server.url("/tex")});

    ReadResult found = callback->readImage("wall.png", nullptr);
    ASSERT_TRUE(found.validImage());
    EXPECT_EQ(found.getImage()->s(), 2);
    EXPECT_EQ(callback->readImage("broken.jpg", nullptr).status(), ReadResult::ERROR_IN_READING_FILE);
    EXPECT_EQ(server.requestCount(), 0u);

    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(callback->readImage("roof.png", nullptr).status(), ReadResult::FILE_NOT_FOUND);
    EXPECT_EQ(countTarget(server, "/tex/roof.png"), 2u) << "misses are not cached";

    std::filesystem::remove(localFile);
    ReadResult fetched = callback->readImage("wall.png", nullptr);
    ASSERT_TRUE(fetched.validImage());
    EXPECT_EQ(fetched.getImage()->s(), 5) << "the local image was not cached";
}

TEST_F(MyReadFileCallbackNet, MissingCurlPluginEndsTheSearchWithAWarning)
{
    LoopbackHttpServer server([](const HttpRequest&) { return png(5); });
    setPaths({server.url("/a"), server.url("/b")});
    // Taking the loaded plug-in out of the registry leaves no reader for the protocol: the
    // registry does not load a library twice.
    osgDB::Registry* registry = osgDB::Registry::instance();
    osg::ref_ptr<osgDB::ReaderWriter> curl = registry->getReaderWriterForExtension("curl");
    ASSERT_TRUE(curl.valid());
    registry->removeReaderWriter(curl.get());

    ReadResult result = callback->readImage("wall.png", nullptr);
    const bool readerCameBack = registry->getReaderWriterForExtension("curl") != nullptr;
    registry->addReaderWriter(curl.get());
    ASSERT_FALSE(readerCameBack);
    EXPECT_FALSE(result.validImage());
    EXPECT_EQ(result.message(), "Warning: Could not find the .curl plugin to read from server.");
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(MyReadFileCallbackThreads, ConcurrentReadsThroughTheRegistryAllGetTheImage)
{
    LoopbackHttpServer server([](const HttpRequest&) {
        HttpResponse response = png(4);
        response.delay = std::chrono::milliseconds(20);
        return response;
    });
    setPaths({server.url("/tex")});
    osgDB::Registry::instance()->setReadFileCallback(callback.get());

    // No object cache, so that each read really reaches the callback.
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setObjectCacheHint(osgDB::Options::CACHE_NONE);
    constexpr int kThreads = 4;
    std::vector<int> widths(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            if (osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile("wall.png", options.get()))
                widths[i] = image->s();
        });
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(widths, std::vector<int>(kThreads, 4));
    const size_t downloads = server.requestCount();
    EXPECT_GE(downloads, 1u);
    EXPECT_LE(downloads, static_cast<size_t>(kThreads));
    EXPECT_TRUE(osgDB::readRefImageFile("wall.png", options.get()).valid());
    EXPECT_EQ(server.requestCount(), downloads) << "once cached, no more downloads";
}
