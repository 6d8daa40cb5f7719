#include "SharedData.h"

#include <cstdlib>
#include <filesystem>

namespace veltra::test {

std::string sharedDataFile(const std::string& relative)
{
    const char* given = std::getenv("VELTRA_SHARED_DATA");
    const std::filesystem::path folder =
        given && *given ? std::filesystem::path(given) : std::filesystem::path(VELTRA_SOURCE_DIR) / ".." / "shared" / "data";
    const std::filesystem::path file = folder / relative;
    std::error_code error;
    return std::filesystem::is_regular_file(file, error) ? file.lexically_normal().string() : std::string();
}

} // namespace veltra::test
