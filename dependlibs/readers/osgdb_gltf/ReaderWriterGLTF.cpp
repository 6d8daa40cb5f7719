#include "GltfDiagnostics.h"
#include "GltfLoad.h"
#include "GltfSceneBuilder.h"

#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>
#include <osgDB/fstream>

#include <cstdint>
#include <iterator>
#include <limits>

namespace {

using veltra::gltf::GltfDiagnostics;
using veltra::gltf::LoadedGltf;

/// Reads glTF 2.0 models, as JSON (.gltf) or in the binary container (.glb), into a scene of
/// transforms and geometries (see docs/models.md). Reads the stream form too, resolving
/// external files against the options' database paths. Runs on whichever thread loads the model
/// (the viewer's loading thread, the database pager); a read keeps all its state to itself, so
/// reads may run at once.
class ReaderWriterGLTF : public osgDB::ReaderWriter
{
public:
    ReaderWriterGLTF()
    {
        supportsExtension("gltf", "glTF 2.0 model (JSON)");
        supportsExtension("glb", "glTF 2.0 model (binary container)");
    }

    const char* className() const override { return "glTF 2.0 reader"; }

    ReadResult readNode(const std::string& location, const osgDB::Options* options) const override
    {
        const std::string extension = osgDB::getLowerCaseFileExtension(location);
        if (!acceptsExtension(extension))
            return ReadResult::FILE_NOT_HANDLED;
        const std::string path = osgDB::findDataFile(location, options);
        if (path.empty())
            return ReadResult::FILE_NOT_FOUND;
        osgDB::ifstream in(path.c_str(), std::ios::in | std::ios::binary);
        if (!in)
            return ReadResult("glTF " + path + ": cannot be opened");
        // The model's own folder, made absolute: a bare file name has an empty folder, and
        // empty folders are never searched.
        std::vector<std::string> folders{osgDB::getFilePath(osgDB::getRealPath(path))};
        if (options)
            folders.insert(folders.end(), options->getDatabasePathList().begin(), options->getDatabasePathList().end());
        return read(in, osgDB::getSimpleFileName(path), folders);
    }

    ReadResult readNode(std::istream& in, const osgDB::Options* options) const override
    {
        std::string name = options ? options->getPluginStringData("STREAM_FILENAME") : std::string();
        std::vector<std::string> folders;
        if (options)
            folders.assign(options->getDatabasePathList().begin(), options->getDatabasePathList().end());
        return read(in, name.empty() ? std::string("glTF stream") : name, folders);
    }

    ReadResult readObject(const std::string& location, const osgDB::Options* options) const override
    {
        return readNode(location, options);
    }

    ReadResult readObject(std::istream& in, const osgDB::Options* options) const override
    {
        return readNode(in, options);
    }

private:
    // The rest of the stream in one piece: sized up front when the stream can seek (files and
    // the viewer's in-memory models), so that a model is neither copied byte by byte nor read
    // at all when it is too large.
    static bool readAll(std::istream& in, std::string& bytes)
    {
        const std::streampos start = in.tellg();
        if (start != std::streampos(-1) && in.seekg(0, std::ios::end))
        {
            const std::streamoff size = in.tellg() - start;
            in.seekg(start);
            if (size < 0 || std::uint64_t(size) > std::numeric_limits<std::uint32_t>::max())
                return false;
            bytes.resize(std::size_t(size));
            in.read(bytes.data(), size);
            bytes.resize(std::size_t(in.gcount()));
            return true;
        }
        in.clear();
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return true;
    }

    static ReadResult read(std::istream& in, const std::string& fileName, const std::vector<std::string>& folders)
    {
        std::string bytes;
        if (!readAll(in, bytes))
            return ReadResult("glTF " + fileName + ": models of 4 GiB or more are not read");
        GltfDiagnostics diagnostics(fileName);
        LoadedGltf loaded;
        std::string error = veltra::gltf::loadGltf(bytes, folders, diagnostics, loaded);
        osg::ref_ptr<osg::MatrixTransform> scene;
        if (error.empty())
            scene = veltra::gltf::buildScene(loaded, modelName(fileName), diagnostics, error);
        if (!scene)
        {
            OSG_WARN << "[glTF] " << fileName << ": " << error << std::endl;
            return ReadResult("glTF " + fileName + ": " + error);
        }
        return ReadResult(scene.get());
    }

    // The viewer finds models by the top transform's name: the file's name without folder and
    // extension, as a user would write it.
    static std::string modelName(const std::string& fileName)
    {
        const std::string stem = osgDB::getNameLessExtension(osgDB::getSimpleFileName(fileName));
        return stem.empty() ? fileName : stem;
    }
};

} // namespace

REGISTER_OSGPLUGIN(gltf, ReaderWriterGLTF)
