#include "GltfInputChecks.h"

#include <cstdint>

namespace veltra::gltf {

namespace {

constexpr std::uint32_t kChunkJson = 0x4E4F534A;
constexpr std::uint32_t kChunkBin = 0x004E4942;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;

std::uint32_t readLittleEndian32(const std::string& bytes, std::size_t offset)
{
    const auto byte = [&](std::size_t i) { return std::uint32_t(static_cast<unsigned char>(bytes[offset + i])); };
    return byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
}

} // namespace

bool isGlb(const std::string& bytes)
{
    return bytes.size() >= 4 && bytes.compare(0, 4, "glTF") == 0;
}

std::string checkGlbLayout(const std::string& bytes)
{
    if (bytes.size() < kHeaderSize + kChunkHeaderSize)
        return "binary glTF shorter than its header";
    const std::uint32_t version = readLittleEndian32(bytes, 4);
    if (version != 2)
        return "binary glTF version " + std::to_string(version) + " (only 2 is read)";
    const std::uint64_t length = readLittleEndian32(bytes, 8);
    if (length > bytes.size())
        return "binary glTF declares " + std::to_string(length) + " bytes but holds " + std::to_string(bytes.size());
    if (length < kHeaderSize + kChunkHeaderSize)
        return "binary glTF declares a length shorter than its header";

    const std::uint64_t jsonLength = readLittleEndian32(bytes, 12);
    if (readLittleEndian32(bytes, 16) != kChunkJson)
        return "binary glTF does not start with a JSON chunk";
    const std::uint64_t jsonEnd = kHeaderSize + kChunkHeaderSize + jsonLength;
    if (jsonLength == 0 || jsonEnd > length)
        return "binary glTF JSON chunk runs past the end of the file";
    if (jsonEnd == length)
        return {};

    // tinygltf checks the BIN chunk's length without its 8-byte header; check it whole here.
    if (jsonEnd + kChunkHeaderSize > length)
        return "binary glTF has a truncated chunk header after the JSON chunk";
    const std::uint64_t binLength = readLittleEndian32(bytes, jsonEnd);
    if (readLittleEndian32(bytes, jsonEnd + 4) != kChunkBin)
        return "binary glTF second chunk is not a BIN chunk";
    if (jsonEnd + kChunkHeaderSize + binLength > length)
        return "binary glTF BIN chunk runs past the end of the file";
    if (binLength < 4 || binLength % 4 != 0 || jsonEnd % 4 != 0)
        return "binary glTF chunks are not aligned to 4 bytes";
    return {};
}

std::size_t glbJsonOffset()
{
    return kHeaderSize + kChunkHeaderSize;
}

std::size_t glbJsonSize(const std::string& bytes)
{
    return readLittleEndian32(bytes, 12);
}

std::size_t jsonNestingDepth(const char* text, std::size_t size)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < size; ++i)
    {
        const char c = text[i];
        if (inString)
        {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
        {
            if (++depth > deepest)
                deepest = depth;
        }
        else if ((c == ']' || c == '}') && depth > 0)
            --depth;
    }
    return deepest;
}

} // namespace veltra::gltf
