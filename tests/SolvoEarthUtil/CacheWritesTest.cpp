#include <SolvoEarthUtil/loading/CacheWrites.h>

#include "NotifyCapture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <vector>

using namespace SolvoEarthUtil;
using namespace veltra::test;

namespace {

class CacheWritesTest : public ::testing::Test
{
protected:
    void TearDown() override { waitForCacheWrites(); }

    static std::string contentOf(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    // Temporary files a write left behind.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
        {
            if (entry.path().filename().string().find(".partial-") != std::string::npos)
                found.push_back(entry.path().string());
        }
        return found;
    }

    static std::shared_ptr<const std::string> bytes(size_t size, char fill)
    {
        return std::make_shared<const std::string>(std::string(size, fill) + "end");
    }

    TempDir dir;
};

} // namespace

TEST_F(CacheWritesTest, AnEntryIsPendingOrWholeAndInPlaceAfterTheWait)
{
    const std::string target = dir.file("127.0.0.1/models/tower.osgb");
    const auto model = bytes(8u << 20, 'x');
    writeCacheFileLater(target, model);
    // Whatever the writer has done by now, a reader never sees a part of the entry.
    if (const auto pending = pendingCacheFile(target))
        EXPECT_EQ(pending, model);
    else
        EXPECT_EQ(contentOf(target), *model);

    waitForCacheWrites();
    EXPECT_EQ(pendingCacheFile(target), nullptr);
    EXPECT_EQ(contentOf(target), *model);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CacheWritesTest, ANewerEntryReplacesTheOlderOneWhole)
{
    const std::string target = dir.write("model.osgt", std::string(1u << 20, 'o'));
    const auto model = bytes(100, 'n');
    writeCacheFileLater(target, model);
    waitForCacheWrites();
    EXPECT_EQ(contentOf(target), *model);
}

TEST_F(CacheWritesTest, AnUnwritablePlaceLeavesNothingAndSaysSo)
{
    // Below a plain file no folder can be made, whoever runs the test.
    const std::string target = dir.write("not-a-folder", "x") + "/model.osgb";
    NotifyCapture log(osg::WARN);
    writeCacheFileLater(target, bytes(100, 'x'));
    waitForCacheWrites();
    EXPECT_EQ(pendingCacheFile(target), nullptr);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(log.contains("cannot write the cache file " + target));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CacheWritesTest, NothingToWriteIsIgnored)
{
    writeCacheFileLater(dir.file("none.osgb"), nullptr);
    writeCacheFileLater("", bytes(10, 'x'));
    waitForCacheWrites();
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.osgb")));
    EXPECT_EQ(pendingCacheFile(""), nullptr);
}

TEST_F(CacheWritesTest, ThreadsWritingOneEntryAndTheirOwnLeaveEachWhole)
{
    const std::string shared = dir.file("shared.osgb");
    constexpr int kThreads = 6;
    constexpr int kWrites = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back([&, t] {
            for (int w = 0; w < kWrites; ++w)
            {
                writeCacheFileLater(shared, bytes(64u << 10, static_cast<char>('a' + t)));
                writeCacheFileLater(dir.file("own-" + std::to_string(t) + "-" + std::to_string(w)),
                                    bytes(1000, static_cast<char>('a' + t)));
                if (const auto pending = pendingCacheFile(shared))
                {
                    EXPECT_EQ(pending->size(), (64u << 10) + 3);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    waitForCacheWrites();

    std::set<std::string> written;
    for (int t = 0; t < kThreads; ++t)
        written.insert(*bytes(64u << 10, static_cast<char>('a' + t)));
    EXPECT_EQ(written.count(contentOf(shared)), 1u) << "one whole write, not a mix";
    for (int t = 0; t < kThreads; ++t)
        for (int w = 0; w < kWrites; ++w)
            EXPECT_EQ(contentOf(dir.file("own-" + std::to_string(t) + "-" + std::to_string(w))),
                      *bytes(1000, static_cast<char>('a' + t)));
    EXPECT_EQ(pendingCacheFile(shared), nullptr);
    EXPECT_TRUE(leftovers().empty());
}
