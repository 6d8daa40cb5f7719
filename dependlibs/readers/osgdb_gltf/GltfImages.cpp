#include "GltfImages.h"

#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <array>
#include <cstdint>
#include <cstring>
#include <sstream>

namespace veltra::gltf {

namespace {

std::string extensionFor(const unsigned char* data, std::size_t size, const std::string& hint)
{
    if (size >= 8 && data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G')
        return "png";
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return "jpeg";
    const std::string lower = osgDB::convertToLowerCase(hint);
    const std::size_t slash = lower.find('/');
    if (slash != std::string::npos)
        return lower.substr(slash + 1); // "image/bmp"
    return osgDB::getLowerCaseFileExtension(lower);
}

std::uint32_t crc32(const unsigned char* data, std::size_t size, std::uint32_t crc)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n)
        {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::uint32_t bigEndian32(const unsigned char* at)
{
    return (std::uint32_t(at[0]) << 24) | (std::uint32_t(at[1]) << 16) | (std::uint32_t(at[2]) << 8) | at[3];
}

// osgDB's PNG reader leaks its buffers when libpng gives up on damaged data, so damage that the
// chunk checksums reveal (nearly all of it) is caught here first.
std::string checkPngChunks(const unsigned char* data, std::size_t size)
{
    std::size_t at = 8;
    bool first = true;
    while (at + 12 <= size)
    {
        const std::uint32_t length = bigEndian32(data + at);
        if (length > size - at - 12)
            return "PNG chunk runs past the end of the picture";
        const unsigned char* type = data + at + 4;
        if (first && (std::memcmp(type, "IHDR", 4) != 0 || length != 13))
            return "PNG does not start with its header chunk";
        if (crc32(type, length + 4, 0xFFFFFFFFu) != (bigEndian32(type + 4 + length) ^ 0xFFFFFFFFu))
            return "PNG chunk " + std::string(reinterpret_cast<const char*>(type), 4) + " is damaged";
        if (std::memcmp(type, "IEND", 4) == 0)
            return {};
        first = false;
        at += std::size_t(length) + 12;
    }
    return "PNG is truncated";
}

} // namespace

osg::ref_ptr<osg::Image> decodeImage(const unsigned char* data, std::size_t size, const std::string& hint,
                                     std::string& error)
{
    if (!data || size == 0)
    {
        error = "image data is empty";
        return nullptr;
    }
    const std::string extension = extensionFor(data, size, hint);
    if (extension == "png")
    {
        error = checkPngChunks(data, size);
        if (!error.empty())
            return nullptr;
    }
    osgDB::ReaderWriter* reader =
        extension.empty() ? nullptr : osgDB::Registry::instance()->getReaderWriterForExtension(extension);
    if (!reader)
    {
        error = "no image reader for \"" + (extension.empty() ? hint : extension) + "\"";
        return nullptr;
    }
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size), std::ios::binary);
    osgDB::ReaderWriter::ReadResult result = reader->readImage(in);
    osg::ref_ptr<osg::Image> image = result.getImage();
    if (!image || !image->data() || image->s() <= 0 || image->t() <= 0)
    {
        error = "cannot decode " + extension + " image" + (result.message().empty() ? "" : ": " + result.message());
        return nullptr;
    }
    // glTF's texture coordinates start at the picture's top row; the scene builder flips them for
    // OpenGL, so every image must be bottom-up here.
    if (image->getOrigin() == osg::Image::TOP_LEFT)
    {
        image->flipVertical();
        image->setOrigin(osg::Image::BOTTOM_LEFT);
    }
    return image;
}

} // namespace veltra::gltf
