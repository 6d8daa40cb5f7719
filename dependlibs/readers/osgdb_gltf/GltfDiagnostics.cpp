#include "GltfDiagnostics.h"

#include <osg/Notify>

#include <sstream>

namespace veltra::gltf {

namespace {

// A hostile file can repeat one fault a million times; the count keeps growing, the log does not.
constexpr unsigned kLoggedWarnings = 50;

} // namespace

void GltfDiagnostics::warn(const std::string& message)
{
    ++_warnings;
    if (_warnings <= kLoggedWarnings)
    {
        OSG_WARN << "[glTF] " << _source << ": " << message << std::endl;
    }
    else if (_warnings == kLoggedWarnings + 1)
    {
        OSG_WARN << "[glTF] " << _source << ": further warnings are counted, not shown" << std::endl;
    }
}

void GltfDiagnostics::warnLines(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        if (line.find_first_not_of(" \t\r") != std::string::npos)
            warn(line);
    }
}

} // namespace veltra::gltf
