#include "InputFile.h"

#include "ScheduleError.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace veltra::schedule {

std::string readInputFile(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        throw ScheduleError(path + ": no such file");
    if (std::filesystem::is_directory(path, error))
        throw ScheduleError(path + ": is a folder, not a file");
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw ScheduleError(path + ": cannot be read (" + std::strerror(errno) + ")");
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    if (stream.bad())
        throw ScheduleError(path + ": reading failed");
    return bytes.str();
}

} // namespace veltra::schedule
