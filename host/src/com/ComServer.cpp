#include "com/ComServer.h"

#include "com/ComDispatchBridge.h"
#include "com/ComObjects.h"
#include "com/RegistrationScript.h"
#include "com/ThreadLocale.h"
#include "logging/Log.h"
#include "plugincore/PluginCore.h"
#include "plugincore/PluginIdentity.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace FB::Com {
namespace {

using registry::ScriptAction;
using registry::ScriptScope;

const char* const kTraceSource = "COM";

Guid readControlClassId()
{
    Guid id;
    for (const VeltraPluginStringPair* pair = PluginIdentity::identityRecord(); pair->key; ++pair)
    {
        if (std::strcmp(pair->key, "ClassId") == 0)
            Guid::parse(pair->value, id);
    }
    return id;
}

} // namespace

ComServer::ComServer(FactoryProvider factory, std::string modulePath)
    : _factoryProvider(std::move(factory)), _modulePath(std::move(modulePath))
{}

const Guid& ComServer::controlClassId()
{
    static const Guid id = readControlClassId();
    return id;
}

FactoryBasePtr ComServer::factory()
{
    std::lock_guard<std::mutex> lock(_lock);
    if (!_factory && _factoryProvider)
        _factory = _factoryProvider();
    return _factory;
}

bool ComServer::unlock()
{
    std::size_t held = _locks;
    while (held > 0)
    {
        if (_locks.compare_exchange_weak(held, held - 1))
            return true;
    }
    return false;
}

ScriptScope ComServer::scopeForExecutable(const std::string& executable)
{
    static const std::string harvester = "heat.exe";
    if (executable.size() >= harvester.size() &&
        strcasecmp(executable.c_str() + executable.size() - harvester.size(), harvester.c_str()) == 0)
        return ScriptScope::Machine;
    return ScriptScope::PerUser;
}

std::string ComServer::callerExecutable()
{
    if (const char* fake = std::getenv("VELTRA_CALLER_EXECUTABLE"); fake && *fake)
        return fake;
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size())
        return {}; // unknown: registered per user, the choice that needs no rights
    return std::string(path.data(), static_cast<std::size_t>(length));
}

bool ComServer::isPerUserCommandLine(const char* commandLine)
{
    // Five characters with the terminator, so "users" is not "user".
    return commandLine && strncasecmp(commandLine, "user", 5) == 0;
}

HResult ComServer::runScript(ScriptAction action, ScriptScope scope)
{
    const bool install = action == ScriptAction::Register;
    try
    {
        ScopedNeutralThreadLocale neutral;
        registry::Registry registry;
        const registry::Status status = registry::runRegistryScript(
            registry, registrationScript(), registrationSubstitutions(_modulePath), action, scope);
        if (status.ok())
            return S_OK;
        Log::trace(kTraceSource, std::string(install ? "registration" : "unregistration") +
                                     " failed: " + registry::resultName(status.result) + ": " + status.message);
        FactoryBasePtr plugins = factory();
        return plugins ? plugins->updateRegistry(install) : E_FAIL;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (const std::exception& error)
    {
        Log::trace(kTraceSource, std::string(install ? "registration" : "unregistration") + " failed: " + error.what());
    }
    catch (...)
    {
        Log::trace(kTraceSource, install ? "registration failed" : "unregistration failed");
    }
    return E_FAIL;
}

HResult ComServer::registerServer(ScriptScope scope)
{
    return runScript(ScriptAction::Register, scope);
}

HResult ComServer::unregisterServer(ScriptScope scope)
{
    return runScript(ScriptAction::Unregister, scope);
}

HResult ComServer::registerServer()
{
    return registerServer(scopeForExecutable(callerExecutable()));
}

HResult ComServer::unregisterServer()
{
    return unregisterServer(scopeForExecutable(callerExecutable()));
}

HResult ComServer::install(bool install, const char* commandLine)
{
    const ScriptScope scope =
        isPerUserCommandLine(commandLine) ? ScriptScope::PerUser : scopeForExecutable(callerExecutable());
    if (!install)
        return unregisterServer(scope);
    const HResult result = registerServer(scope);
    if (failed(result))
        unregisterServer(scope);
    return result;
}

HResult ComServer::getClassObject(const Guid* classId, const Guid* iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!classId || !iid)
        return E_INVALIDARG;
    if (*classId != controlClassId())
        return CLASS_E_CLASSNOTAVAILABLE;
    try
    {
        IClassFactory* classFactory = newControlClassFactory(*this);
        const HResult result = classFactory->QueryInterface(*iid, out);
        classFactory->Release();
        if (failed(result))
            return result;
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(_lock);
            first = !_initialised;
            _initialised = true;
        }
        if (first)
        {
            PluginCore::setPlatform("Windows", "IE");
            if (FactoryBasePtr plugins = factory())
                plugins->globalPluginInitialize();
        }
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (const std::exception& error)
    {
        Log::trace(kTraceSource, std::string("DllGetClassObject failed: ") + error.what());
    }
    catch (...)
    {
        Log::trace(kTraceSource, "DllGetClassObject failed");
    }
    return E_FAIL;
}

HResult ComServer::canUnloadNow()
{
    // A host may still hold the scripting object it got from a control it has released.
    if (_objects != 0 || _locks != 0 || DispatchBridge::alive() != 0)
        return S_FALSE;
    bool wasInitialised = false;
    {
        std::lock_guard<std::mutex> lock(_lock);
        wasInitialised = _initialised;
        _initialised = false;
    }
    if (wasInitialised)
    {
        try
        {
            if (FactoryBasePtr plugins = factory())
                plugins->globalPluginDeinitialize();
        }
        catch (...)
        {
            Log::trace(kTraceSource, "globalPluginDeinitialize failed");
        }
    }
    return S_OK;
}

} // namespace FB::Com
