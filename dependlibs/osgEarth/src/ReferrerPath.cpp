#include "ReferrerPath.h"

#include <osgDB/FileNameUtils>

namespace osgEarth {

std::string resolveAgainstReferrer(const std::string& path, const std::string& referrer)
{
    if (path.empty() || osgDB::containsServerAddress(path) || osgDB::isAbsolutePath(path))
    {
        return path;
    }
    const std::string folder = osgDB::getFilePath(referrer);
    return folder.empty() ? path : osgDB::concatPaths(folder, path);
}

std::string resolvedPathValue(const Config& owner, const std::string& key)
{
    const Config* child = owner.child_ptr(key);
    const std::string& referrer = child && !child->referrer().empty() ? child->referrer() : owner.referrer();
    return resolveAgainstReferrer(owner.value(key), referrer);
}

} // namespace osgEarth
