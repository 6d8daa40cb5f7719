#include "GltfAssets.h"

#include <SolvoEarthUtil/loading/BundledReaders.h>
#include <SolvoEarthUtil/loading/ReadNodeFromMemory.h>

#include <osgDB/Registry>

#include <cstring>
#include <sstream>

namespace veltra::test::gltf {

namespace {

template <typename T>
std::string bytesOf(const std::vector<T>& values)
{
    std::string out(values.size() * sizeof(T), '\0');
    if (!values.empty())
        std::memcpy(out.data(), values.data(), out.size());
    return out;
}

void appendLittleEndian32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

} // namespace

GltfAsset::GltfAsset()
{
    json["asset"]["version"] = "2.0";
}

int GltfAsset::add(const std::string& array, const Json::Value& value)
{
    json[array].append(value);
    return int(json[array].size()) - 1;
}

int GltfAsset::addView(const std::string& bytes, int byteStride)
{
    while (bin.size() % 4 != 0)
        bin.push_back('\0');
    Json::Value view;
    view["buffer"] = 0;
    view["byteOffset"] = Json::UInt64(bin.size());
    view["byteLength"] = Json::UInt64(bytes.size());
    if (byteStride > 0)
        view["byteStride"] = byteStride;
    bin += bytes;
    return add("bufferViews", view);
}

int GltfAsset::addAccessor(int view, int componentType, std::size_t count, const std::string& type,
                           std::size_t byteOffset, bool normalized)
{
    Json::Value accessor;
    if (view >= 0)
        accessor["bufferView"] = view;
    accessor["componentType"] = componentType;
    accessor["count"] = Json::UInt64(count);
    accessor["type"] = type;
    if (byteOffset > 0)
        accessor["byteOffset"] = Json::UInt64(byteOffset);
    if (normalized)
        accessor["normalized"] = true;
    return add("accessors", accessor);
}

int GltfAsset::addFloats(const std::vector<float>& values, const std::string& type)
{
    const std::size_t components = type == "VEC2" ? 2 : type == "VEC3" ? 3 : type == "VEC4" ? 4 : 1;
    return addAccessor(addView(bytesOf(values)), kFloat, values.size() / components, type);
}

int GltfAsset::addIndices(const std::vector<std::uint32_t>& values, int componentType)
{
    std::string bytes;
    for (std::uint32_t value : values)
    {
        if (componentType == kUnsignedByte)
            bytes += bytesOf(std::vector<std::uint8_t>{std::uint8_t(value)});
        else if (componentType == kUnsignedShort)
            bytes += bytesOf(std::vector<std::uint16_t>{std::uint16_t(value)});
        else
            bytes += bytesOf(std::vector<std::uint32_t>{value});
    }
    return addAccessor(addView(bytes), componentType, values.size(), "SCALAR");
}

int GltfAsset::addMesh(const std::string& name, const Json::Value& attributes, int indices, int material, int mode)
{
    Json::Value primitive;
    primitive["attributes"] = attributes;
    if (indices >= 0)
        primitive["indices"] = indices;
    if (material >= 0)
        primitive["material"] = material;
    primitive["mode"] = mode;
    Json::Value mesh;
    if (!name.empty())
        mesh["name"] = name;
    mesh["primitives"].append(primitive);
    return add("meshes", mesh);
}

int GltfAsset::addNode(const Json::Value& node)
{
    return add("nodes", node);
}

void GltfAsset::setScene(const std::string& name, const std::vector<int>& roots)
{
    Json::Value scene;
    if (!name.empty())
        scene["name"] = name;
    scene["nodes"] = Json::Value(Json::arrayValue);
    for (int root : roots)
        scene["nodes"].append(root);
    json["scenes"] = Json::Value(Json::arrayValue);
    json["scenes"].append(scene);
    json["scene"] = 0;
}

std::string GltfAsset::toGltf() const
{
    Json::Value out = json;
    out["buffers"][0]["byteLength"] = Json::UInt64(bin.size());
    out["buffers"][0]["uri"] = dataUri("application/octet-stream", bin);
    return jsonText(out);
}

std::string GltfAsset::toGltfWithExternalBuffer(const std::string& uri) const
{
    Json::Value out = json;
    out["buffers"][0]["byteLength"] = Json::UInt64(bin.size());
    out["buffers"][0]["uri"] = uri;
    return jsonText(out);
}

std::string GltfAsset::toGlb() const
{
    Json::Value out = json;
    out["buffers"][0]["byteLength"] = Json::UInt64(bin.size());
    return glb(jsonText(out), bin);
}

GltfAsset triangleAsset()
{
    GltfAsset asset;
    Json::Value attributes;
    attributes["POSITION"] = asset.addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    asset.addMesh("Tri", attributes);
    Json::Value node;
    node["name"] = "Part";
    node["mesh"] = 0;
    asset.addNode(node);
    asset.setScene("Site", {0});
    return asset;
}

std::string base64(const std::string& bytes)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3)
    {
        const std::uint32_t n =
            (std::uint8_t(bytes[i]) << 16) | (std::uint8_t(bytes[i + 1]) << 8) | std::uint8_t(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(alphabet[(n >> shift) & 63]);
    }
    if (i + 1 == bytes.size())
    {
        const std::uint32_t n = std::uint8_t(bytes[i]) << 16;
        out += {alphabet[(n >> 18) & 63], alphabet[(n >> 12) & 63], '=', '='};
    }
    else if (i + 2 == bytes.size())
    {
        const std::uint32_t n = (std::uint8_t(bytes[i]) << 16) | (std::uint8_t(bytes[i + 1]) << 8);
        out += {alphabet[(n >> 18) & 63], alphabet[(n >> 12) & 63], alphabet[(n >> 6) & 63], '='};
    }
    return out;
}

std::string dataUri(const std::string& mimeType, const std::string& bytes)
{
    return "data:" + mimeType + ";base64," + base64(bytes);
}

std::string jsonText(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

std::string glb(const std::string& json, const std::string& bin)
{
    std::string jsonChunk = json;
    while (jsonChunk.size() % 4 != 0)
        jsonChunk.push_back(' ');
    std::string binChunk = bin;
    while (binChunk.size() % 4 != 0)
        binChunk.push_back('\0');
    const std::size_t total = 12 + 8 + jsonChunk.size() + (binChunk.empty() ? 0 : 8 + binChunk.size());
    std::string out = "glTF";
    appendLittleEndian32(out, 2);
    appendLittleEndian32(out, std::uint32_t(total));
    appendLittleEndian32(out, std::uint32_t(jsonChunk.size()));
    appendLittleEndian32(out, 0x4E4F534A);
    out += jsonChunk;
    if (!binChunk.empty())
    {
        appendLittleEndian32(out, std::uint32_t(binChunk.size()));
        appendLittleEndian32(out, 0x004E4942);
        out += binChunk;
    }
    return out;
}

std::string fourColourPng()
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(2, 2, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    const unsigned char pixels[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    std::memcpy(image->data(), pixels, sizeof pixels);
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension("png");
    std::ostringstream out(std::ios::binary);
    if (!writer || !writer->writeImage(*image, out).success())
        return {};
    return out.str();
}

osgDB::ReaderWriter::ReadResult readBytes(const std::string& bytes, const std::string& path)
{
    SolvoEarthUtil::useBundledReaders();
    return SolvoEarthUtil::readNodeFromMemory(bytes, path, "", nullptr);
}

} // namespace veltra::test::gltf
