// How the reader is reached: the viewer's in-memory path with its database folder, the stream
// form with explicit folders, osgDB's file reading, and the container told by its magic.
#include "GltfAssets.h"
#include "GltfSceneQueries.h"

#include <SolvoEarthUtil/loading/BundledReaders.h>
#include <TempDir.h>

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <sstream>

using namespace veltra::test::gltf;

namespace {

class GltfStream : public testing::Test
{
protected:
    void SetUp() override
    {
        SolvoEarthUtil::useBundledReaders();
        _reader = osgDB::Registry::instance()->getReaderWriterForExtension("gltf");
        ASSERT_NE(_reader, nullptr) << "osgdb_gltf was not found";
        _folder.write("data/mesh.bin", _asset.bin);
    }

    osgDB::ReaderWriter::ReadResult readStream(const std::string& bytes, const std::vector<std::string>& folders)
    {
        osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
        for (const std::string& folder : folders)
            options->getDatabasePathList().push_back(folder);
        std::istringstream in(bytes, std::ios::binary);
        return _reader->readNode(in, options.get());
    }

    GltfAsset _asset = triangleAsset();
    veltra::test::TempDir _folder;
    osgDB::ReaderWriter* _reader = nullptr;
};

TEST_F(GltfStream, ExternalBufferBesideTheInMemoryPath)
{
    const std::string json = _asset.toGltfWithExternalBuffer("data/mesh.bin");
    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(json, _folder.file("model.gltf")));
    EXPECT_NE(findNamed<osg::Geode>(top.get(), "Part"), nullptr);
}

TEST_F(GltfStream, ExternalBufferFromTheDatabasePathList)
{
    const std::string json = _asset.toGltfWithExternalBuffer("mesh.bin");
    EXPECT_TRUE(readStream(json, {_folder.file("elsewhere"), _folder.file("data")}).success())
        << "every folder of the list is searched";

    osgDB::ReaderWriter::ReadResult missing = readStream(json, {_folder.file("elsewhere")});
    EXPECT_EQ(missing.status(), osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE);
    EXPECT_NE(missing.message().find("mesh.bin"), std::string::npos) << missing.message();
}

TEST_F(GltfStream, ContainerIsToldByItsMagicNotItsName)
{
    EXPECT_TRUE(readBytes(_asset.toGlb(), "/m/named-as-json.gltf").success());
    EXPECT_TRUE(readBytes(_asset.toGltf(), "/m/named-as-binary.glb").success());
    EXPECT_TRUE(readStream(_asset.toGlb(), {}).success());
}

TEST_F(GltfStream, GlbWithExternalBufferUsesTheFolders)
{
    Json::Value json = _asset.json;
    json["buffers"][0]["byteLength"] = Json::UInt64(_asset.bin.size());
    json["buffers"][0]["uri"] = "mesh.bin";
    EXPECT_TRUE(readStream(glb(jsonText(json), ""), {_folder.file("data")}).success());
}

TEST_F(GltfStream, OsgDbReadsFilesOfBothExtensions)
{
    const std::string gltfPath = _folder.write("tower.gltf", _asset.toGltfWithExternalBuffer("data/mesh.bin"));
    const std::string glbPath = _folder.write("house.glb", _asset.toGlb());
    osg::ref_ptr<osg::Node> tower = osgDB::readNodeFile(gltfPath);
    osg::ref_ptr<osg::Node> house = osgDB::readNodeFile(glbPath);
    ASSERT_TRUE(tower && house);
    EXPECT_EQ(tower->getName(), "Site");
    EXPECT_NE(findNamed<osg::Geode>(house.get(), "Part"), nullptr);
    EXPECT_TRUE(_reader->acceptsExtension("glb"));
    EXPECT_EQ(_reader->readNode(_folder.file("absent.gltf"), nullptr).status(),
              osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND);
    EXPECT_EQ(_reader->readNode(_folder.file("model.obj"), nullptr).status(),
              osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED);
}

} // namespace
