#pragma once

#include <osgEarth/Config>

#include <string>

namespace osgEarth {

/// `path` as seen from the file `referrer` names: a relative path gains that file's folder; empty and absolute paths
/// and URLs with a scheme pass unchanged.
std::string resolveAgainstReferrer(const std::string& path, const std::string& referrer);

/// The value of `owner`'s child `key`, resolved against the file that declared it (the child's own referrer, else
/// the owner's). "" when there is no such value.
std::string resolvedPathValue(const Config& owner, const std::string& key);

} // namespace osgEarth
