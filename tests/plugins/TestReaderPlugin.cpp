// A scene plug-in for tests: reads any "<name>.<extension>" as an empty group named after the
// file, except "broken.<extension>", which it reports as a read error.
#include <osg/Group>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#define VELTRA_STRINGIFY_(x) #x
#define VELTRA_STRINGIFY(x) VELTRA_STRINGIFY_(x)

namespace {

class TestReaderWriter : public osgDB::ReaderWriter
{
public:
    TestReaderWriter() { supportsExtension(VELTRA_STRINGIFY(VELTRA_TEST_EXTENSION), "Veltra test plug-in"); }

    const char* className() const override { return "Veltra test plug-in"; }

    ReadResult readObject(const std::string& fileName, const Options*) const override
    {
        if (!acceptsExtension(osgDB::getFileExtension(fileName)))
            return ReadResult::FILE_NOT_HANDLED;
        if (osgDB::getNameLessExtension(osgDB::getSimpleFileName(fileName)) == "broken")
            return ReadResult("test plug-in: " + fileName + " is broken");
        osg::ref_ptr<osg::Group> group = new osg::Group;
        group->setName(fileName);
        return group.release();
    }
};

} // namespace

REGISTER_OSGPLUGIN(VELTRA_TEST_EXTENSION, TestReaderWriter)
