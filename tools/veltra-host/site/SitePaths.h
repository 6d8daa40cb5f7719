#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace veltra::host {

/// Where a request for a static file leads: a file inside the site folder, or why not.
struct SiteLookup
{
    enum class Outcome { Found, NotFound, Forbidden };

    Outcome outcome = Outcome::NotFound;
    std::filesystem::path file; // the real path, set when found
    std::string contentType;    // set when found
    std::string reason;         // a short text for the refusal, empty when found

    bool found() const { return outcome == Outcome::Found; }
};

/// Maps request targets to files inside one site folder and nowhere else. The target is decoded
/// once; "..", NUL and backslashes are refused before the disk is touched, and the real path
/// (symbolic links resolved) must still lie inside the real site folder, so a link pointing out
/// of the site is refused too. A folder stands for its index.html.
class SitePaths
{
public:
    /// std::invalid_argument when `root` is not an existing folder.
    explicit SitePaths(const std::filesystem::path& root);

    const std::filesystem::path& root() const { return _root; }

    /// `target` as it came in the request line ("/a/b.html?x=1").
    SiteLookup resolve(std::string_view target) const;

private:
    bool isInside(const std::filesystem::path& realPath) const;

    std::filesystem::path _root; // canonical
};

} // namespace veltra::host
