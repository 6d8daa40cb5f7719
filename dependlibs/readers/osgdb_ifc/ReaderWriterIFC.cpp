// osgDB reader for IFC building models (".ifc", IFC2X3 and IFC4): the project's spatial structure
// as groups and one named geode per building element (see docs/models.md).
#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcScene.h>

#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>

#include <fstream>
#include <iterator>
#include <new>
#include <sstream>

namespace {

class ReaderWriterIFC : public osgDB::ReaderWriter
{
public:
    ReaderWriterIFC() { supportsExtension("ifc", "IFC building model (IFC2X3, IFC4)"); }

    const char* className() const override { return "IFC building model reader"; }

    ReadResult readNode(const std::string& file, const osgDB::Options* options) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(file)))
            return ReadResult::FILE_NOT_HANDLED;
        const std::string path = osgDB::findDataFile(file, options);
        if (path.empty())
            return ReadResult::FILE_NOT_FOUND;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return ReadResult(path + ": cannot open the file");
        return readBytes(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), path);
    }

    ReadResult readNode(std::istream& in, const osgDB::Options* options) const override
    {
        // Readers handed a stream by the viewer learn the file's name from the options.
        const std::string streamName = options ? options->getPluginStringData("STREAM_FILENAME") : std::string();
        std::string bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
        return readBytes(std::move(bytes), streamName.empty() ? std::string("model.ifc") : streamName);
    }

private:
    // Nothing thrown inside a reader may reach osgDB's caller: every failure becomes an error result.
    static ReadResult readBytes(std::string bytes, const std::string& name)
    {
        try
        {
            return ReadResult(veltra::ifc::readIfcScene(std::move(bytes), name).get());
        }
        catch (const veltra::ifc::IfcError& error)
        {
            return ReadResult(error.what());
        }
        catch (const std::bad_alloc&)
        {
            return ReadResult(name + ": out of memory");
        }
        catch (const std::exception& error)
        {
            return ReadResult(name + ": " + error.what());
        }
        catch (...)
        {
            return ReadResult(name + ": the IFC reader failed");
        }
    }
};

} // namespace

REGISTER_OSGPLUGIN(ifc, ReaderWriterIFC)
