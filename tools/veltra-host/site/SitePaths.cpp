#include "site/SitePaths.h"

#include "site/ContentTypes.h"
#include "site/UrlText.h"

#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace veltra::host {

namespace {

SiteLookup refused(SiteLookup::Outcome outcome, std::string reason)
{
    SiteLookup lookup;
    lookup.outcome = outcome;
    lookup.reason = std::move(reason);
    return lookup;
}

SiteLookup forbidden(std::string reason) { return refused(SiteLookup::Outcome::Forbidden, std::move(reason)); }
SiteLookup notFound() { return refused(SiteLookup::Outcome::NotFound, "no such file"); }

/// Checks the decoded path segment by segment; returns the reason it is refused, or empty.
std::string unsafeReason(const std::string& decoded)
{
    if (decoded.empty() || decoded.front() != '/')
        return "target must start with '/'";
    if (decoded.find('\0') != std::string::npos)
        return "NUL in path";
    if (decoded.find('\\') != std::string::npos)
        return "backslash in path";
    std::size_t start = 1;
    while (start <= decoded.size()) {
        std::size_t end = decoded.find('/', start);
        if (end == std::string::npos)
            end = decoded.size();
        if (decoded.compare(start, end - start, "..") == 0)
            return "'..' in path";
        start = end + 1;
    }
    return {};
}

} // namespace

SitePaths::SitePaths(const fs::path& root)
{
    std::error_code error;
    if (!fs::is_directory(root, error))
        throw std::invalid_argument("site folder does not exist: " + root.string());
    _root = fs::canonical(root);
}

bool SitePaths::isInside(const fs::path& realPath) const
{
    // Compared by components, so "/srv/site2" is not taken to be inside "/srv/site".
    auto inner = realPath.begin();
    for (auto outer = _root.begin(); outer != _root.end(); ++outer, ++inner)
        if (inner == realPath.end() || *inner != *outer)
            return false;
    return true;
}

SiteLookup SitePaths::resolve(std::string_view target) const
{
    const std::optional<std::string> decoded = percentDecode(splitTarget(target).path);
    if (!decoded)
        return forbidden("malformed percent escape");
    if (std::string reason = unsafeReason(*decoded); !reason.empty())
        return forbidden(std::move(reason));

    // Relative to the root, so a leading '/' (or "//") cannot restart the path at the file system root.
    const std::size_t firstName = decoded->find_first_not_of('/');
    fs::path candidate = _root / (firstName == std::string::npos ? std::string{} : decoded->substr(firstName));
    std::error_code error;
    if (fs::is_directory(candidate, error))
        candidate /= "index.html";

    const fs::path real = fs::canonical(candidate, error);
    if (error)
        return notFound();
    if (!isInside(real))
        return forbidden("outside the site folder");
    if (fs::is_directory(real, error))
        return notFound();
    if (!fs::is_regular_file(real, error))
        return forbidden("not a regular file");

    SiteLookup lookup;
    lookup.outcome = SiteLookup::Outcome::Found;
    lookup.file = real;
    lookup.contentType = contentTypeFor(real);
    return lookup;
}

} // namespace veltra::host
