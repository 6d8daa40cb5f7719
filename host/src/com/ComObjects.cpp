#include "com/ComObjects.h"

#include "com/ComDispatchBridge.h"

#include "com/ComServer.h"
#include "logging/Log.h"
#include "plugincore/PluginIdentity.h"

#include <atomic>
#include <exception>
#include <new>

namespace FB::Com {
namespace {

const char* const kTraceSource = "COM";

// Reference counting and the server's object count, shared by both kinds of object.
template <class Interface>
class CountedObject : public Interface
{
public:
    explicit CountedObject(ComServer& server) : _server(server) { _server.objectCreated(); }
    virtual ~CountedObject() { _server.objectDestroyed(); }
    CountedObject(const CountedObject&) = delete;
    CountedObject& operator=(const CountedObject&) = delete;

    std::uint32_t AddRef() override { return ++_references; }

    std::uint32_t Release() override
    {
        const std::uint32_t left = --_references;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    ComServer& server() { return _server; }

    HResult answer(bool known, void** out)
    {
        if (!out)
            return E_POINTER;
        if (!known)
        {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<Interface*>(this);
        return S_OK;
    }

private:
    ComServer& _server;
    std::atomic<std::uint32_t> _references{1};
};

// The control's object: it owns one plug-in object for as long as a reference is held.
class ControlObject final : public CountedObject<IUnknown>
{
public:
    ControlObject(ComServer& server, PluginCorePtr plugin) : CountedObject(server), _plugin(std::move(plugin)) {}

    ~ControlObject() override
    {
        try
        {
            _plugin->destroy();
        }
        catch (const std::exception& error)
        {
            Log::trace(kTraceSource, std::string("destroying the plug-in failed: ") + error.what());
        }
        catch (...)
        {
            Log::trace(kTraceSource, "destroying the plug-in failed");
        }
    }

    // The control's scripting is its plug-in's root object: dispatch requests get that object's bridge,
    // which stays one object per scriptable object whichever control asked.
    HResult QueryInterface(const Guid& iid, void** out) override
    {
        if (!out || (iid != IID_IDispatch && iid != IID_IDispatchEx))
            return answer(iid == IID_IUnknown, out);
        *out = nullptr;
        DispatchBridge* bridge = DispatchBridge::wrap(_plugin->getRootJSAPI());
        if (!bridge)
            return E_NOINTERFACE;
        const HResult result = bridge->QueryInterface(iid, out);
        bridge->Release();
        return result;
    }

private:
    PluginCorePtr _plugin;
};

class ControlClassFactory final : public CountedObject<IClassFactory>
{
public:
    using CountedObject::CountedObject;

    HResult QueryInterface(const Guid& iid, void** out) override
    {
        return answer(iid == IID_IUnknown || iid == IID_IClassFactory, out);
    }

    HResult CreateInstance(IUnknown* outer, const Guid& iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try
        {
            FactoryBasePtr factory = server().factory();
            PluginCorePtr plugin = factory ? factory->createPlugin(PluginIdentity::mimeType) : nullptr;
            if (!plugin)
                return E_FAIL;
            auto* control = new ControlObject(server(), std::move(plugin));
            const HResult result = control->QueryInterface(iid, out);
            control->Release(); // the caller's reference, if any, is the one left
            return result;
        }
        catch (const std::bad_alloc&)
        {
            return E_OUTOFMEMORY;
        }
        catch (const std::exception& error)
        {
            Log::trace(kTraceSource, std::string("CreateInstance failed: ") + error.what());
        }
        catch (...)
        {
            Log::trace(kTraceSource, "CreateInstance failed");
        }
        return E_FAIL;
    }

    HResult LockServer(bool lock) override
    {
        if (lock)
        {
            server().lock();
            return S_OK;
        }
        return server().unlock() ? S_OK : E_FAIL;
    }
};

} // namespace

IClassFactory* newControlClassFactory(ComServer& server)
{
    return new ControlClassFactory(server);
}

} // namespace FB::Com
