#include <SolvoEarthUtil/loading/ReadNodeFromMemory.h>

#include <osg/Group>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <sstream>

using SolvoEarthUtil::readNodeFromMemory;
using ReadResult = osgDB::ReaderWriter::ReadResult;

namespace {

std::string serialized(const std::string& extension)
{
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->setName("in memory");
    model->addChild(new osg::Group);
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setPluginStringData("fileType", extension == "osgt" ? "Ascii" : "Binary");
    std::ostringstream out;
    osgDB::Registry::instance()->getReaderWriterForExtension(extension)->writeNode(*model, out, options.get());
    return out.str();
}

struct MemoryCase
{
    const char* name;
    std::string bytes;
    std::string path;
    std::string mimeType;
    bool read; // a model named "in memory" comes back
    ReadResult::ReadStatus status;
};

void PrintTo(const MemoryCase& memoryCase, std::ostream* out)
{
    *out << memoryCase.name;
}

class ReadNodeFromMemoryCases : public ::testing::TestWithParam<MemoryCase>
{
protected:
    static void SetUpTestSuite()
    {
        osgDB::Registry::instance()->addMimeTypeExtensionMapping("application/x-veltra-memory-test", "osgb");
    }
    static void TearDownTestSuite()
    {
        osgDB::Registry::instance()->getMimeTypeExtensionMap().erase("application/x-veltra-memory-test");
    }
};

} // namespace

TEST_P(ReadNodeFromMemoryCases, ReadsWithTheReaderThePathOrTypeNames)
{
    const MemoryCase& memoryCase = GetParam();
    ReadResult result = readNodeFromMemory(memoryCase.bytes, memoryCase.path, memoryCase.mimeType, nullptr);
    if (memoryCase.read)
    {
        ASSERT_TRUE(result.validNode()) << result.message();
        EXPECT_EQ(result.getNode()->getName(), "in memory");
        EXPECT_EQ(result.getNode()->asGroup()->getNumChildren(), 1u);
    }
    else
    {
        EXPECT_FALSE(result.validNode());
        EXPECT_EQ(result.status(), memoryCase.status);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ReadNodeFromMemoryCases,
    ::testing::Values(MemoryCase{"Text", serialized("osgt"), "/models/a.osgt", "", true, ReadResult::FILE_LOADED},
                      MemoryCase{"Binary", serialized("osgb"), "/models/a.OSGB", "", true, ReadResult::FILE_LOADED},
                      MemoryCase{"UrlFileNameParameter", serialized("osgb"), "http://host/get?filename=a.osgb&v=2", "",
                                 true, ReadResult::FILE_LOADED},
                      MemoryCase{"ContentType", serialized("osgb"), "http://host/model",
                                 "application/x-veltra-memory-test; charset=binary", true, ReadResult::FILE_LOADED},
                      MemoryCase{"NoReader", serialized("osgb"), "/models/a.unknown-format", "", false,
                                 ReadResult::FILE_NOT_HANDLED},
                      MemoryCase{"Garbage", "not a model", "/models/a.osgb", "", false, ReadResult::FILE_NOT_HANDLED},
                      MemoryCase{"Empty", "", "/models/a.osgt", "", false, ReadResult::FILE_NOT_HANDLED},
                      MemoryCase{"Truncated", serialized("osgb").substr(0, 40), "/models/a.osgb", "", false,
                                 ReadResult::ERROR_IN_READING_FILE}),
    [](const ::testing::TestParamInfo<MemoryCase>& param) { return std::string(param.param.name); });
