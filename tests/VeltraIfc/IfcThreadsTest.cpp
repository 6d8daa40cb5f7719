// Several loading threads reading IFC at once: the reader serialises what the libraries share.
#include "GeneratedIfc.h"
#include "SceneQueries.h"

#include <SolvoEarthUtil/loading/ReadNodeFromMemory.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace veltra::test;

TEST(IfcReaderThreads, ConcurrentReadsAllSucceedAlike)
{
    SolvoEarthUtil::useBundledReaders();
    const std::string text = twoWallIfc();
    std::atomic<int> complete{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([&] {
            for (int read = 0; read < 5; ++read)
            {
                osgDB::ReaderWriter::ReadResult result =
                    SolvoEarthUtil::readNodeFromMemory(text, "two-walls.ifc", std::string(), nullptr);
                if (result.validNode() && SceneIndex(*result.getNode()).geodes.count("Wall:Ext:777") == 1)
                    ++complete;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(complete.load(), 20);
}
