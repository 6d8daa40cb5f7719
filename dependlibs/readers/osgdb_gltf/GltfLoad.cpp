#include "GltfLoad.h"

#include "GltfImages.h"
#include "GltfInputChecks.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>

namespace veltra::gltf {

namespace {

// Real assets nest a handful of levels; "extras" may add some. Deeper text is an attack on
// tinygltf's recursive conversion of those values.
constexpr std::size_t kMaxJsonNesting = 128;

struct LoadContext
{
    const std::vector<std::string>* searchFolders = nullptr;
    GltfDiagnostics* diagnostics = nullptr;
    LoadedGltf* out = nullptr;
};

// tinygltf hands every URI it wants to open to ExpandFilePath first; resolving it here against
// our folders (never the working folder, never a shell expansion) keeps the lookups ours.
std::string resolveUri(const std::string& uri, void* user)
{
    namespace fs = std::filesystem;
    const auto* context = static_cast<const LoadContext*>(user);
    std::error_code error;
    const fs::path path(uri);
    // Models come from the web too: a URI may name a file beside the model, never one anywhere
    // on this machine.
    if (uri.empty() || path.is_absolute())
        return {};
    for (const std::string& folder : *context->searchFolders)
    {
        if (folder.empty())
            continue;
        const fs::path candidate = fs::path(folder) / path;
        if (fs::is_regular_file(candidate, error))
            return candidate.string();
    }
    return {};
}

bool isRegularFile(const std::string& path, void*)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

bool readWholeFile(std::vector<unsigned char>* out, std::string* error, const std::string& path, void*)
{
    std::ifstream in(path, std::ios::binary);
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
    if (!in || sizeError)
    {
        if (error)
            *error = "cannot open";
        return false;
    }
    out->resize(static_cast<std::size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(size)))
    {
        if (error)
            *error = "cannot read";
        return false;
    }
    return true;
}

bool refuseWrite(std::string* error, const std::string&, const std::vector<unsigned char>&, void*)
{
    if (error)
        *error = "the glTF reader writes no files";
    return false;
}

// Pictures given by URI arrive here with their bytes; a picture that cannot be decoded costs the
// model its texture, not the whole model, so this never fails the load. Pictures in buffer views
// arrive with bytes tinygltf has not checked against the buffer, so they are left for later.
bool decodeUriImage(tinygltf::Image* image, const int index, std::string*, std::string*, int, int,
                    const unsigned char* bytes, int size, void* user)
{
    auto* context = static_cast<LoadContext*>(user);
    if (image->bufferView >= 0)
        return true;
    std::string error;
    const std::string hint = image->mimeType.empty() ? image->uri : image->mimeType;
    osg::ref_ptr<osg::Image> decoded = decodeImage(bytes, size > 0 ? std::size_t(size) : 0, hint, error);
    if (decoded)
        context->out->uriImages[index] = decoded;
    else
        context->diagnostics->warn("image " + std::to_string(index) + " (" + image->name + "): " + error);
    return true;
}

} // namespace

std::string loadGltf(const std::string& bytes, const std::vector<std::string>& searchFolders,
                     GltfDiagnostics& diagnostics, LoadedGltf& out)
{
    if (bytes.empty())
        return "the file is empty";
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max())
        return "files of 4 GiB or more are not read";

    const bool binary = isGlb(bytes);
    if (binary)
    {
        const std::string layoutError = checkGlbLayout(bytes);
        if (!layoutError.empty())
            return layoutError;
    }
    const std::size_t jsonOffset = binary ? glbJsonOffset() : 0;
    const std::size_t jsonSize = binary ? glbJsonSize(bytes) : bytes.size();
    if (jsonNestingDepth(bytes.data() + jsonOffset, jsonSize) > kMaxJsonNesting)
        return "JSON nested deeper than " + std::to_string(kMaxJsonNesting) + " levels";

    LoadContext context;
    context.searchFolders = &searchFolders;
    context.diagnostics = &diagnostics;
    context.out = &out;

    tinygltf::TinyGLTF parser;
    parser.SetFsCallbacks({&isRegularFile, &resolveUri, &readWholeFile, &refuseWrite, &context});
    parser.SetImageLoader(&decodeUriImage, &context);

    std::string error;
    std::string warning;
    bool loaded = false;
    try
    {
        const auto size = static_cast<unsigned int>(bytes.size());
        // An empty base folder: resolveUri searches the folders itself.
        if (binary)
            loaded = parser.LoadBinaryFromMemory(&out.model, &error, &warning,
                                                 reinterpret_cast<const unsigned char*>(bytes.data()), size, "");
        else
            loaded = parser.LoadASCIIFromString(&out.model, &error, &warning, bytes.data(), size, "");
    }
    catch (const std::exception& exception)
    {
        // tinygltf indexes some empty vectors with at(); that is bad input, not a crash.
        return std::string("malformed glTF: ") + exception.what();
    }
    diagnostics.warnLines(warning);
    if (!loaded)
    {
        while (!error.empty() && (error.back() == '\n' || error.back() == ' '))
            error.pop_back();
        return error.empty() ? std::string("malformed glTF") : error;
    }
    return {};
}

} // namespace veltra::gltf
