#include <SolvoEarthUtil/loading/ReadPluginFile.h>

#include "BuildOutputs.h"
#include "NotifyCapture.h"

#include <osg/Group>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <gtest/gtest.h>

using namespace veltra::test;

namespace {

// A reader registered in-process for the extension that the "vtestpre" test plug-in library
// also handles, so a call that loaded that library anyway would be visible.
class InProcessReader : public osgDB::ReaderWriter
{
public:
    InProcessReader() { supportsExtension("vtestpre", "in-process test reader"); }
    ReadResult readObject(const std::string& fileName, const Options*) const override
    {
        osg::ref_ptr<osg::Group> group = new osg::Group;
        group->setName("in-process:" + fileName);
        return group.release();
    }
};

class ReadPluginFile : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        osgDB::Registry::instance()->getLibraryFilePathList().push_front(veltra::test::builtLibraryFolder());
    }

    static std::string libraryName(const std::string& ext)
    {
        return osgDB::Registry::instance()->createLibraryNameForNodeKit("MarloPlugin_" + ext);
    }
};

} // namespace

TEST_F(ReadPluginFile, LoadsThePluginLibraryForTheExtension)
{
    EXPECT_EQ(libraryName("PluginEarth"), "libMarloPlugin_PluginEarth.so");
    ASSERT_EQ(osgDB::Registry::instance()->getReaderWriterForExtension("vtest"), nullptr);

    osg::ref_ptr<osg::Object> object = osgDB::readPluginFile("scene.vtest", nullptr);
    ASSERT_TRUE(object.valid());
    EXPECT_EQ(object->getName(), "scene.vtest");
    EXPECT_EQ(object->referenceCount(), 1) << "the caller owns the object alone";
    EXPECT_NE(osgDB::Registry::instance()->getLibrary(libraryName("vtest")), nullptr);

    // Once loaded, the same library serves later reads.
    osg::ref_ptr<osg::Object> again = osgDB::readPluginFile("other.vtest", nullptr);
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(again->getName(), "other.vtest");
}

TEST_F(ReadPluginFile, ExistingReaderLoadsNoLibrary)
{
    osg::ref_ptr<InProcessReader> reader = new InProcessReader;
    osgDB::Registry::instance()->addReaderWriter(reader.get());

    osg::ref_ptr<osg::Object> object = osgDB::readPluginFile("scene.vtestpre", nullptr);
    ASSERT_TRUE(object.valid());
    EXPECT_EQ(object->getName(), "in-process:scene.vtestpre");
    EXPECT_EQ(osgDB::Registry::instance()->getLibrary(libraryName("vtestpre")), nullptr);

    osgDB::Registry::instance()->removeReaderWriter(reader.get());
}

TEST_F(ReadPluginFile, ReadErrorIsLoggedAsWarningAndGivesNull)
{
    NotifyCapture log(osg::WARN);
    EXPECT_EQ(osgDB::readPluginFile("broken.vtest", nullptr), nullptr);
    EXPECT_TRUE(log.contains("test plug-in: broken.vtest is broken"));
}

TEST_F(ReadPluginFile, UnknownExtensionGivesNull)
{
    NotifyCapture quiet(osg::FATAL);
    EXPECT_EQ(osgDB::readPluginFile("scene.nosuchplugin", nullptr), nullptr);
    EXPECT_EQ(osgDB::readPluginFile("", nullptr), nullptr);
}
