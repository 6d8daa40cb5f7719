#include <SolvoEarthUtil/loading/BundledReaders.h>

#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <dlfcn.h>

#include <mutex>

namespace SolvoEarthUtil {

void useBundledReaders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        osgDB::Registry* registry = osgDB::Registry::instance();
        // The plug-ins are built beside this library, wherever the build or the browser put it.
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&useBundledReaders), &info) != 0 && info.dli_fname)
        {
            // osgDB looks for "osgPlugins-<version>/osgdb_<ext>.so" under each folder of this list.
            osgDB::FilePathList& paths = registry->getLibraryFilePathList();
            paths.push_front(osgDB::getFilePath(info.dli_fname));
        }
        registry->addFileExtensionAlias("glb", "gltf");
    });
}

} // namespace SolvoEarthUtil
