// A model reader for tests that takes its time: "<milliseconds>" in a .veltraslow file is how long it
// reads before it answers with a box named "slow model", as a large model's read holds its viewer.
#include <osg/Geode>
#include <osg/Shape>
#include <osg/ShapeDrawable>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

class ReaderWriterSlow : public osgDB::ReaderWriter
{
public:
    ReaderWriterSlow() { supportsExtension("veltraslow", "a test model that is slow to read"); }

    const char* className() const override { return "slow test model reader"; }

    ReadResult readNode(const std::string& name, const Options*) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(name)))
            return ReadResult::FILE_NOT_HANDLED;
        std::ifstream file(name);
        int milliseconds = -1;
        if (!(file >> milliseconds) || milliseconds < 0 || milliseconds > 60000)
            return ReadResult("a .veltraslow file holds the milliseconds its read takes, 0 to 60000");
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        osg::ref_ptr<osg::Geode> model = new osg::Geode;
        model->setName("slow model");
        model->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
        return model.release();
    }
};

} // namespace

REGISTER_OSGPLUGIN(veltraslow, ReaderWriterSlow)
