#include "BuildOutputs.h"

#include <filesystem>

namespace veltra::test {

namespace {

// Found from the running program rather than compiled in, so that no build folder's absolute path
// reaches a compile line and the compiler cache serves clones in other folders too.
const std::filesystem::path& programFolder()
{
    static const std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return folder;
}

} // namespace

std::string builtProgram(const std::string& fileName)
{
    return (programFolder() / fileName).string();
}

std::string builtLibraryFolder()
{
    return (programFolder().parent_path() / "lib").string();
}

std::string builtLibrary(const std::string& fileName)
{
    return (std::filesystem::path(builtLibraryFolder()) / fileName).string();
}

} // namespace veltra::test
