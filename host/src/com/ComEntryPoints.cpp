// The plug-in library's component exports, under the names and with the result codes hosts of the Windows
// control call them by. Compiled into the plug-in library itself, like the NPAPI entry points, so that every
// export is kept.

#include "com/ComServer.h"
#include "com/ComTypes.h"

#include <dlfcn.h>

#include <string>

namespace {

using FB::Com::ComServer;
using FB::Com::Guid;
using FB::Com::HResult;

// %MODULE% is this library's own file, wherever it was loaded from.
std::string thisLibrary()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&thisLibrary), &info) && info.dli_fname)
        return info.dli_fname;
    return {};
}

ComServer& server()
{
    // Never destroyed: a host may call DllCanUnloadNow while the library's static objects are being torn down.
    static ComServer* const instance = new ComServer([] { return getFactoryInstance(); }, thisLibrary());
    return *instance;
}

} // namespace

#define VELTRA_COM_EXPORT extern "C" __attribute__((visibility("default")))

VELTRA_COM_EXPORT HResult DllRegisterServer(void)
{
    return server().registerServer();
}

VELTRA_COM_EXPORT HResult DllUnregisterServer(void)
{
    return server().unregisterServer();
}

/// `commandLine` is narrow UTF-8 text here, where Windows passes a wide string.
VELTRA_COM_EXPORT HResult DllInstall(int install, const char* commandLine)
{
    return server().install(install != 0, commandLine);
}

VELTRA_COM_EXPORT HResult DllGetClassObject(const Guid* classId, const Guid* iid, void** out)
{
    return server().getClassObject(classId, iid, out);
}

VELTRA_COM_EXPORT HResult DllCanUnloadNow(void)
{
    return server().canUnloadNow();
}

#undef VELTRA_COM_EXPORT
