#pragma once

#include <filesystem>
#include <string>

namespace veltra::test {

/// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return _path; }
    /// The path of `name` inside the folder, as text.
    std::string file(const std::string& name) const { return (_path / name).string(); }
    /// Writes `content` to `name` inside the folder and returns its path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path _path;
};

} // namespace veltra::test
