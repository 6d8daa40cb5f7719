// Broken and hostile glTF: every case is a clear error naming what is wrong (or a counted
// warning), and a fuzz pass of truncations and byte flips must never crash, hang or leak.
#include "GltfAssets.h"
#include "GltfSceneQueries.h"

#include <SolvoEarthUtil/loading/BundledReaders.h>

#include <gtest/gtest.h>

#include <osgDB/Registry>

#include <functional>
#include <random>
#include <sstream>

using namespace veltra::test::gltf;

namespace {

std::string withBinaryBufferLength(std::string glbBytes, std::uint32_t binLength)
{
    // The BIN chunk header follows the JSON chunk; its first 4 bytes are the chunk's length.
    const std::uint32_t jsonLength = std::uint8_t(glbBytes[12]) | (std::uint8_t(glbBytes[13]) << 8) |
                                     (std::uint8_t(glbBytes[14]) << 16) |
                                     (std::uint32_t(std::uint8_t(glbBytes[15])) << 24);
    for (int i = 0; i < 4; ++i)
        glbBytes[20 + jsonLength + i] = char((binLength >> (8 * i)) & 0xFF);
    return glbBytes;
}

// The triangle asset with one change to its JSON.
std::string edited(const std::function<void(GltfAsset&)>& edit)
{
    GltfAsset asset = triangleAsset();
    edit(asset);
    return asset.toGltf();
}

std::string indexedTriangle(std::uint32_t badIndex)
{
    GltfAsset asset = triangleAsset();
    asset.json["meshes"][0]["primitives"][0]["indices"] = asset.addIndices({0, 1, badIndex});
    return asset.toGlb();
}

std::string nested(int depth)
{
    return "{\"asset\":{\"version\":\"2.0\"},\"extras\":" + std::string(std::size_t(depth), '[') +
           std::string(std::size_t(depth), ']') + "}";
}

std::string chainOfNodes(int length)
{
    GltfAsset asset = triangleAsset();
    asset.json["nodes"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < length; ++i)
    {
        Json::Value node;
        node["name"] = "level" + std::to_string(i);
        if (i + 1 < length)
            node["children"].append(i + 1);
        asset.addNode(node);
    }
    return asset.toGltf();
}

struct ErrorCase
{
    const char* name;
    std::function<std::string()> bytes;
    const char* message; // part of the error text
};

class GltfBadInput : public testing::TestWithParam<ErrorCase>
{};

TEST_P(GltfBadInput, IsAClearError)
{
    osgDB::ReaderWriter::ReadResult result = readBytes(GetParam().bytes(), "/m/bad.gltf");
    EXPECT_EQ(result.status(), osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE) << result.message();
    EXPECT_EQ(result.getNode(), nullptr);
    EXPECT_NE(result.message().find(GetParam().message), std::string::npos) << result.message();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GltfBadInput,
    testing::Values(
        ErrorCase{"Empty", [] { return std::string(); }, "empty"},
        ErrorCase{"Garbage", [] { return std::string("this is not a model at all"); }, "glTF"},
        ErrorCase{"TruncatedJson",
                  [] {
                      const std::string text = triangleAsset().toGltf();
                      return text.substr(0, text.size() / 2);
                  },
                  "glTF"},
        ErrorCase{"TruncatedGlb",
                  [] {
                      const std::string bytes = triangleAsset().toGlb();
                      return bytes.substr(0, bytes.size() - 9);
                  },
                  "holds"},
        ErrorCase{"GlbHeaderOnly", [] { return std::string("glTF\x02\0\0\0", 8); }, "shorter than its header"},
        ErrorCase{"GlbVersionOne", [] { return glb("{}", "").replace(4, 1, "\x01"); }, "version 1"},
        ErrorCase{"GlbBinChunkPastTheEnd",
                  [] {
                      // Fits tinygltf's own check, which forgets the chunk header.
                      const std::string bytes = triangleAsset().toGlb();
                      return withBinaryBufferLength(bytes, 44);
                  },
                  "BIN chunk runs past"},
        ErrorCase{"MissingExternalBuffer", [] { return triangleAsset().toGltfWithExternalBuffer("missing-data.bin"); },
                  "missing-data.bin"},
        ErrorCase{"AbsoluteBufferPathIsNotFollowed",
                  [] { return triangleAsset().toGltfWithExternalBuffer("/etc/passwd"); }, "not found : /etc/passwd"},
        ErrorCase{"AccessorPastItsView",
                  [] { return edited([](GltfAsset& a) { a.json["accessors"][0]["count"] = 4; }); }, "runs past"},
        ErrorCase{
            "AccessorOffsetHuge",
            [] { return edited([](GltfAsset& a) { a.json["accessors"][0]["byteOffset"] = Json::UInt64(1) << 62; }); },
            "runs past"},
        ErrorCase{"CountThatOverflows",
                  [] { return edited([](GltfAsset& a) { a.json["accessors"][0]["count"] = Json::UInt64(1) << 61; }); },
                  "runs past"},
        ErrorCase{"HugeCountWithoutData",
                  [] {
                      return edited([](GltfAsset& a) {
                          a.json["accessors"][0].removeMember("bufferView");
                          a.json["accessors"][0]["count"] = 4000000000u;
                      });
                  },
                  "without data declares"},
        ErrorCase{"ViewOutsideItsBuffer",
                  [] { return edited([](GltfAsset& a) { a.json["bufferViews"][0]["byteOffset"] = 1000; }); },
                  "lies outside its buffer"},
        ErrorCase{"StrideSmallerThanElement",
                  [] { return edited([](GltfAsset& a) { a.json["bufferViews"][0]["byteStride"] = 8; }); },
                  "stride smaller"},
        ErrorCase{"WrongAccessorType",
                  [] { return edited([](GltfAsset& a) { a.json["accessors"][0]["type"] = "VEC2"; }); }, "wrong type"},
        ErrorCase{"IndexPastTheVertices", [] { return indexedTriangle(7); }, "index 7 is past the 3 vertices"},
        ErrorCase{"NodeCycle",
                  [] {
                      return edited([](GltfAsset& a) {
                          Json::Value back;
                          back["children"].append(0);
                          a.json["nodes"][0]["children"].append(a.addNode(back));
                      });
                  },
                  "cycle"},
        ErrorCase{"SelfParent", [] { return edited([](GltfAsset& a) { a.json["nodes"][0]["children"].append(0); }); },
                  "cycle"},
        ErrorCase{"CycleWithoutScene",
                  [] {
                      return edited([](GltfAsset& a) {
                          a.json.removeMember("scenes");
                          a.json.removeMember("scene");
                          a.json["nodes"][0]["children"].append(0);
                      });
                  },
                  "cycle"},
        ErrorCase{"MissingChild",
                  [] { return edited([](GltfAsset& a) { a.json["nodes"][0]["children"].append(42); }); },
                  "node 42 does not exist"},
        ErrorCase{"MissingMesh", [] { return edited([](GltfAsset& a) { a.json["nodes"][0]["mesh"] = 9; }); },
                  "mesh 9 does not exist"},
        ErrorCase{"SparseIndexPastCount",
                  [] {
                      return edited([](GltfAsset& a) {
                          Json::Value& sparse = a.json["accessors"][0]["sparse"];
                          sparse["count"] = 1;
                          sparse["indices"]["bufferView"] = a.addView(std::string("\x09\0\0\0", 4));
                          sparse["indices"]["componentType"] = kUnsignedInt;
                          sparse["values"]["bufferView"] = a.addView(std::string(12, '\0'));
                      });
                  },
                  "sparse index 9"},
        ErrorCase{"DeeplyNestedJson", [] { return nested(100000); }, "nested deeper"},
        ErrorCase{"DeepNodeChain", [] { return chainOfNodes(5000); }, "deeper than"},
        ErrorCase{"CompressedMesh",
                  [] {
                      return edited(
                          [](GltfAsset& a) { a.json["extensionsRequired"].append("KHR_draco_mesh_compression"); });
                  },
                  "KHR_draco_mesh_compression"}),
    [](const testing::TestParamInfo<ErrorCase>& param) { return std::string(param.param.name); });

struct WarningCase
{
    const char* name;
    std::function<void(GltfAsset&)> edit;
};

class GltfDoubtfulInput : public testing::TestWithParam<WarningCase>
{};

TEST_P(GltfDoubtfulInput, IsACountedWarningAndTheModelStays)
{
    GltfAsset asset = triangleAsset();
    GetParam().edit(asset);
    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGltf(), "/m/doubtful.gltf"));
    ASSERT_TRUE(top);
    EXPECT_NE(firstGeometry(top.get()), nullptr);
    EXPECT_GE(warningCount(top.get()), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GltfDoubtfulInput,
    testing::Values(
        WarningCase{"MissingMaterial", [](GltfAsset& a) { a.json["meshes"][0]["primitives"][0]["material"] = 5; }},
        WarningCase{
            "NormalCountDisagrees",
            [](GltfAsset& a) {
                a.json["meshes"][0]["primitives"][0]["attributes"]["NORMAL"] = a.addFloats({0, 0, 1, 0, 0, 1}, "VEC3");
            }},
        WarningCase{"NodeWithTwoParents",
                    [](GltfAsset& a) {
                        Json::Value other;
                        other["children"].append(0);
                        a.setScene("", {0, a.addNode(other)});
                    }},
        WarningCase{"UnknownRequiredExtension",
                    [](GltfAsset& a) { a.json["extensionsRequired"].append("VENDOR_something"); }}),
    [](const testing::TestParamInfo<WarningCase>& param) { return std::string(param.param.name); });

// A model touching most of the reader: indices, normals, texture coordinates, a sparse accessor
// and an embedded picture, so that damage lands in every part of it.
GltfAsset richAsset(bool binaryPicture)
{
    GltfAsset asset = triangleAsset();
    Json::Value& primitive = asset.json["meshes"][0]["primitives"][0];
    primitive["indices"] = asset.addIndices({0, 1, 2, 2, 1, 0}, kUnsignedByte);
    primitive["attributes"]["TEXCOORD_0"] = asset.addFloats({0, 0, 1, 0, 0, 1}, "VEC2");
    primitive["attributes"]["COLOR_0"] = asset.addFloats({1, 0, 0, 0, 1, 0, 0, 0, 1}, "VEC3");
    primitive["material"] = 0;
    Json::Value material;
    material["pbrMetallicRoughness"]["baseColorTexture"]["index"] = 0;
    material["alphaMode"] = "MASK";
    asset.add("materials", material);
    Json::Value image;
    if (binaryPicture)
    {
        image["bufferView"] = asset.addView(fourColourPng());
        image["mimeType"] = "image/png";
    }
    else
        image["uri"] = dataUri("image/png", fourColourPng());
    asset.add("images", image);
    Json::Value texture;
    texture["source"] = 0;
    asset.add("textures", texture);
    Json::Value& sparse = asset.json["accessors"][0]["sparse"];
    sparse["count"] = 1;
    sparse["indices"]["bufferView"] = asset.addView(std::string("\x02\0", 2));
    sparse["indices"]["componentType"] = kUnsignedShort;
    sparse["values"]["bufferView"] = asset.addView(std::string(12, '\0'));
    Json::Value child;
    child["name"] = "Child";
    child["mesh"] = 0;
    child["translation"].append(1);
    child["translation"].append(2);
    child["translation"].append(3);
    asset.json["nodes"][0]["children"].append(asset.addNode(child));
    return asset;
}

class GltfFuzz : public testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        SolvoEarthUtil::useBundledReaders();
        _reader = osgDB::Registry::instance()->getReaderWriterForExtension("gltf");
        ASSERT_NE(_reader, nullptr);
    }

    // Either a model or an error with a message: nothing else is acceptable.
    void expectModelOrError(const std::string& bytes, const std::string& what)
    {
        std::istringstream in(bytes, std::ios::binary);
        osgDB::ReaderWriter::ReadResult result = _reader->readNode(in, nullptr);
        if (result.success())
            EXPECT_NE(result.getNode(), nullptr) << what;
        else
        {
            EXPECT_EQ(result.status(), osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE) << what;
            EXPECT_FALSE(result.message().empty()) << what;
        }
    }

    osgDB::ReaderWriter* _reader = nullptr;
};

TEST_P(GltfFuzz, TruncationsAndByteFlipsNeverCrash)
{
    const bool binary = GetParam();
    const GltfAsset asset = richAsset(binary);
    const std::string original = binary ? asset.toGlb() : asset.toGltf();
    {
        std::istringstream in(original, std::ios::binary);
        ASSERT_TRUE(_reader->readNode(in, nullptr).success()) << "the undamaged model reads";
    }
    const std::size_t step = std::max<std::size_t>(1, original.size() / 400);
    for (std::size_t length = 0; length < original.size(); length += step)
        expectModelOrError(original.substr(0, length), "truncated to " + std::to_string(length));

    std::mt19937 random(binary ? 1234u : 4321u);
    std::uniform_int_distribution<std::size_t> position(0, original.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> flips(1, 4);
    for (int round = 0; round < 1500; ++round)
    {
        std::string damaged = original;
        for (int i = flips(random); i > 0; --i)
            damaged[position(random)] = char(byte(random));
        expectModelOrError(damaged, "round " + std::to_string(round));
    }
    // Numbers in the JSON changed to extremes reach the accessor checks rather than the parser.
    for (const char* digit : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"})
    {
        std::string json = jsonText(asset.json);
        for (std::size_t at = json.find(digit); at != std::string::npos; at = json.find(digit, at + 12))
        {
            std::string changed = json;
            changed.replace(at, 1, "4294967295");
            GltfAsset variant;
            std::istringstream in(changed);
            if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &variant.json, nullptr))
                continue;
            variant.bin = asset.bin;
            expectModelOrError(binary ? variant.toGlb() : variant.toGltf(),
                               std::string("extreme number at ") + std::to_string(at));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, GltfFuzz, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) { return param.param ? "Glb" : "Gltf"; });

} // namespace
