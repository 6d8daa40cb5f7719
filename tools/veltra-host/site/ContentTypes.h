#pragma once

#include <filesystem>
#include <string>

namespace veltra::host {

/// The Content-Type sent for a file, chosen by its extension (any case). Unknown extensions and
/// model files get application/octet-stream, which browsers never render or run.
std::string contentTypeFor(const std::filesystem::path& file);

} // namespace veltra::host
