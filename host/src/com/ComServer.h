#pragma once

#include "com/ComTypes.h"
#include "plugincore/FactoryBase.h"
#include "registry/RegistryScript.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace FB::Com {

/// What the library's component exports do (DllRegisterServer, DllInstall, DllGetClassObject, DllCanUnloadNow
/// and the rest): registration through the library's registry script, the class factory of the plug-in's control
/// and the count of objects and locks that decides whether the library may be unloaded. The exports keep one for
/// the library; tests make their own. Any thread.
class ComServer
{
public:
    using FactoryProvider = std::function<FactoryBasePtr()>;

    /// `factory` is asked for the plug-in factory when one is first needed; `modulePath` fills %MODULE%.
    ComServer(FactoryProvider factory, std::string modulePath);

    /// Applies (removes) the registration script under the neutral thread locale, per user unless the calling
    /// program is an installer's harvester (see `scopeForExecutable`). When the script fails, the factory's
    /// updateRegistry(true) (false) answers instead.
    HResult registerServer();
    HResult unregisterServer();
    HResult registerServer(registry::ScriptScope scope);
    HResult unregisterServer(registry::ScriptScope scope);

    /// DllInstall: "user" (any case, nothing after it) registers per user, any other command line as
    /// registerServer does; a failed installation is undone by an unregistration and its failure returned.
    HResult install(bool install, const char* commandLine);

    /// The class factory of the control's class, asked for `iid`; the first success records the platform as
    /// Windows/IE and initialises the plug-in factory.
    HResult getClassObject(const Guid* classId, const Guid* iid, void** out);

    /// S_OK when no object, no lock and no dispatch bridge is alive (then the plug-in factory, when initialised,
    /// is deinitialised); S_FALSE otherwise.
    HResult canUnloadNow();

    /// Kept by the objects handed out; they must not outlive the server.
    void objectCreated() { ++_objects; }
    void objectDestroyed() { --_objects; }
    void lock() { ++_locks; }
    /// False when there was no lock to take back.
    bool unlock();
    std::size_t liveObjects() const { return _objects; }
    std::size_t locks() const { return _locks; }

    FactoryBasePtr factory();

    /// Machine-wide for a program whose file name ends in "heat.exe" (any case), per user for every other.
    static registry::ScriptScope scopeForExecutable(const std::string& executable);
    /// The calling program: VELTRA_CALLER_EXECUTABLE when set (for tests), else the target of /proc/self/exe.
    static std::string callerExecutable();
    /// True for "user" in any case with nothing after it; false for null.
    static bool isPerUserCommandLine(const char* commandLine);
    /// The control's class identifier, from the plug-in's identity.
    static const Guid& controlClassId();

private:
    HResult runScript(registry::ScriptAction action, registry::ScriptScope scope);

    FactoryProvider _factoryProvider;
    std::string _modulePath;
    std::mutex _lock; // guards _factory and _initialised
    FactoryBasePtr _factory;
    bool _initialised = false;
    std::atomic<std::size_t> _objects{0};
    std::atomic<std::size_t> _locks{0};
};

} // namespace FB::Com
