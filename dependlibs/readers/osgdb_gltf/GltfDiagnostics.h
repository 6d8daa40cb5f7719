#pragma once

#include <string>

namespace veltra::gltf {

/// Collects the warnings of one read: each is logged once with the reader's tag and counted, so
/// the caller can tell a clean model from one that lost parts on the way in.
class GltfDiagnostics
{
public:
    explicit GltfDiagnostics(std::string source) : _source(std::move(source)) {}

    void warn(const std::string& message);
    /// Splits tinygltf's newline-separated warning text into separate warnings.
    void warnLines(const std::string& text);
    unsigned warningCount() const { return _warnings; }
    const std::string& source() const { return _source; }

private:
    std::string _source;
    unsigned _warnings = 0;
};

} // namespace veltra::gltf
