#pragma once

#include <json/json.h>

#include <osg/Image>
#include <osgDB/ReaderWriter>

#include <cstdint>
#include <string>
#include <vector>

namespace veltra::test::gltf {

// glTF's numbers the tests write by name.
enum Component : int
{
    kUnsignedByte = 5121,
    kUnsignedShort = 5123,
    kUnsignedInt = 5125,
    kFloat = 5126,
};

/// A glTF asset built in a test: its JSON and the bytes of its single buffer, written out as
/// .gltf with the buffer in a data URI, as .gltf beside an external .bin, or as .glb.
class GltfAsset
{
public:
    GltfAsset();

    /// Appends `bytes` (padded to 4) to the buffer as a new buffer view; returns its index.
    int addView(const std::string& bytes, int byteStride = 0);
    int addAccessor(int view, int componentType, std::size_t count, const std::string& type, std::size_t byteOffset = 0,
                    bool normalized = false);
    /// A view and a tightly packed float accessor of `type` over `values`.
    int addFloats(const std::vector<float>& values, const std::string& type);
    int addIndices(const std::vector<std::uint32_t>& values, int componentType = kUnsignedShort);
    /// A mesh of one primitive whose attributes name accessors ({"POSITION": 0, ...}).
    int addMesh(const std::string& name, const Json::Value& attributes, int indices = -1, int material = -1,
                int mode = 4);
    int addNode(const Json::Value& node);
    int add(const std::string& array, const Json::Value& value);
    void setScene(const std::string& name, const std::vector<int>& roots);

    std::string toGltf() const;
    std::string toGltfWithExternalBuffer(const std::string& uri) const;
    std::string toGlb() const;

    Json::Value json;
    std::string bin;
};

/// One triangle (0,0,0) (1,0,0) (0,1,0) as mesh 0 "Tri" (accessor 0 the positions) and node 0
/// "Part" in a scene "Site".
GltfAsset triangleAsset();

std::string base64(const std::string& bytes);
std::string dataUri(const std::string& mimeType, const std::string& bytes);
std::string jsonText(const Json::Value& value);
std::string glb(const std::string& json, const std::string& bin);
/// A 2x2 PNG: bottom row red, green; top row blue, white (OpenGL's row order in `osg::Image`).
std::string fourColourPng();

/// Reads bytes through the viewer's in-memory path, as if they came from `path`.
osgDB::ReaderWriter::ReadResult readBytes(const std::string& bytes, const std::string& path);

} // namespace veltra::test::gltf
