#include "com/ComDispatchBridge.h"

#include "com/ComDispatchObject.h"
#include "com/ComVariant.h"
#include "com/ComVariantConversion.h"
#include "variant/ScriptErrors.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>

namespace FB::Com {
namespace {

const char* const kAttachEvent = "attachEvent";
const char* const kDetachEvent = "detachEvent";
const char* const kGetLastException = "getLastException";

// One bridge per live scriptable object. Entries are raw: a bridge removes its own entry when it dies, and
// a lookup only takes a bridge whose count has not yet reached zero.
std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<const JSAPI*, DispatchBridge*>& registry()
{
    static auto* bridges = new std::map<const JSAPI*, DispatchBridge*>(); // never destroyed: late releases stay safe
    return *bridges;
}

std::atomic<std::size_t> g_alive{0};

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool isWrite(std::uint16_t flags)
{
    return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
}

} // namespace

DispatchBridge* DispatchBridge::wrap(const JSAPIPtr& api)
{
    if (!api)
        return nullptr;
    std::lock_guard<std::mutex> lock(registryMutex());
    auto found = registry().find(api.get());
    if (found != registry().end() && found->second->addRefIfAlive())
        return found->second;
    auto* bridge = new DispatchBridge(api);
    registry()[api.get()] = bridge;
    return bridge;
}

JSAPIPtr DispatchBridge::apiOf(IDispatch* object)
{
    auto* bridge = dynamic_cast<DispatchBridge*>(object);
    return bridge ? bridge->_api : JSAPIPtr();
}

std::size_t DispatchBridge::alive()
{
    return g_alive;
}

DispatchBridge::DispatchBridge(JSAPIPtr api) : _api(std::move(api))
{
    ++g_alive;
}

DispatchBridge::~DispatchBridge()
{
    --g_alive;
    std::lock_guard<std::mutex> lock(registryMutex());
    auto found = registry().find(_api.get());
    if (found != registry().end() && found->second == this)
        registry().erase(found);
}

HResult DispatchBridge::QueryInterface(const Guid& iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IDispatchEx)
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IDispatchEx*>(this);
    return S_OK;
}

std::uint32_t DispatchBridge::AddRef()
{
    return ++_references;
}

std::uint32_t DispatchBridge::Release()
{
    const std::uint32_t left = --_references;
    if (left == 0)
        delete this;
    return left;
}

bool DispatchBridge::addRefIfAlive()
{
    std::uint32_t count = _references.load();
    while (count != 0)
    {
        if (_references.compare_exchange_weak(count, count + 1))
            return true;
    }
    return false;
}

HResult DispatchBridge::GetDispID(const std::string& name, DispId* id)
{
    if (!id)
        return E_POINTER;
    *id = DISPID_UNKNOWN;
    if (name == kAttachEvent)
        *id = kAttachEventId;
    else if (name == kDetachEvent)
        *id = kDetachEventId;
    else if (name == kGetLastException)
        *id = kGetLastExceptionId;
    else if (name.empty())
        *id = DISPID_VALUE;
    if (*id != DISPID_UNKNOWN)
        return S_OK;

    try
    {
        if (_api->isValid() && !_api->hasMethod(name) && !_api->hasProperty(name))
            return DISP_E_UNKNOWNNAME;
    }
    catch (...)
    {
        return DISP_E_UNKNOWNNAME;
    }

    std::lock_guard<std::mutex> lock(_mutex);
    auto found = _ids.find(name);
    if (found == _ids.end())
    {
        found = _ids.emplace(name, kFirstMemberId + static_cast<DispId>(_names.size())).first;
        _names.push_back(name);
    }
    *id = found->second;
    return S_OK;
}

HResult DispatchBridge::GetDispID(const std::string& name, std::uint32_t flags, DispId* id)
{
    if (!(flags & fdexNameCaseInsensitive))
        return GetDispID(name, id);
    HResult exact = GetDispID(name, id);
    if (exact == S_OK || !id)
        return exact;
    for (const char* own : {kAttachEvent, kDetachEvent, kGetLastException})
        if (sameIgnoringCase(name, own))
            return GetDispID(own, id);
    for (const std::string& member : memberNames())
        if (sameIgnoringCase(name, member))
            return GetDispID(member, id);
    return DISP_E_UNKNOWNNAME;
}

HResult DispatchBridge::GetMemberName(DispId id, std::string* name)
{
    if (!name)
        return E_POINTER;
    switch (id)
    {
    case DISPID_VALUE: *name = ""; return S_OK;
    case kAttachEventId: *name = kAttachEvent; return S_OK;
    case kDetachEventId: *name = kDetachEvent; return S_OK;
    case kGetLastExceptionId: *name = kGetLastException; return S_OK;
    default: return memberName(id, *name) ? S_OK : DISP_E_UNKNOWNNAME;
    }
}

HResult DispatchBridge::GetNextDispID(std::uint32_t, DispId id, DispId* next)
{
    if (!next)
        return E_POINTER;
    *next = DISPID_UNKNOWN;
    std::vector<std::string> members = memberNames();
    auto from = members.begin();
    if (id != DISPID_STARTENUM)
    {
        std::string current;
        if (!memberName(id, current))
            return DISP_E_UNKNOWNNAME;
        from = std::find(members.begin(), members.end(), current);
        if (from != members.end())
            ++from;
    }
    // A member that has gone since is skipped rather than ending the walk.
    for (; from != members.end(); ++from)
        if (GetDispID(*from, next) == S_OK)
            return S_OK;
    *next = DISPID_UNKNOWN;
    return S_FALSE;
}

std::vector<std::string> DispatchBridge::memberNames() const
{
    try
    {
        return _api->isValid() ? _api->getMemberNames() : std::vector<std::string>();
    }
    catch (...)
    {
        return {};
    }
}

HResult DispatchBridge::Invoke(DispId id, std::uint16_t flags, const std::vector<ComVariant>& args, ComVariant* result)
{
    if (result)
        *result = ComVariant();
    if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) == 0)
        return E_INVALIDARG;

    const bool ownMember = id == kAttachEventId || id == kDetachEventId || id == kGetLastExceptionId;
    std::string name;
    if (!ownMember && id != DISPID_VALUE && !memberName(id, name))
        return DISP_E_MEMBERNOTFOUND;
    // The bridge's own members are methods; there is nothing to write.
    if (ownMember && isWrite(flags))
        return DISP_E_MEMBERNOTFOUND;
    if (isWrite(flags) && args.size() != 1)
        return DISP_E_BADPARAMCOUNT;

    // Answered even on an invalidated object: it is how the host learns why the last call failed.
    if (id == kGetLastExceptionId)
    {
        if (result)
            *result = ComVariant(lastException());
        return S_OK;
    }

    try
    {
        if (!_api->isValid())
            throw object_invalidated();
        ComVariant value;
        if (ownMember)
            handleEvent(id == kAttachEventId, args);
        else
            value = invokeMember(id, flags, args);
        if (result)
            *result = std::move(value);
        return S_OK;
    }
    catch (const std::exception& error)
    {
        remember(error.what());
    }
    catch (...)
    {
        remember("Unknown exception");
    }
    return DISP_E_EXCEPTION;
}

std::string DispatchBridge::lastException() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _lastException;
}

bool DispatchBridge::memberName(DispId id, std::string& name) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (id < kFirstMemberId || static_cast<std::size_t>(id - kFirstMemberId) >= _names.size())
        return false;
    name = _names[static_cast<std::size_t>(id - kFirstMemberId)];
    return true;
}

void DispatchBridge::handleEvent(bool attach, const std::vector<ComVariant>& args)
{
    // Same arity as the NPAPI bridge's listeners; a third argument has no meaning here and is ignored.
    if (args.size() < 2 || args.size() > 3)
        throw invalid_arguments();
    std::string event;
    try
    {
        event = toVariant(args[0]).convert_cast<std::string>();
    }
    catch (const bad_variant_cast&)
    {
        throw invalid_arguments();
    }
    IDispatch* handler = args[1].dispatchValue();
    if (!handler)
        throw invalid_arguments();
    auto pageHandler = std::make_shared<DispatchObject>(handler);
    if (attach)
        _api->attachEvent(event, pageHandler);
    else
        _api->detachEvent(event, pageHandler);
}

ComVariant DispatchBridge::invokeMember(DispId id, std::uint16_t flags, const std::vector<ComVariant>& args)
{
    if (id == DISPID_VALUE)
    {
        if (flags & DISPATCH_METHOD)
            return toComVariant(_api->invoke("", toVariantList(args)));
        if (isWrite(flags))
            throw invalid_member("");
        return toComVariant(_api->getProperty("value"));
    }

    std::string name;
    memberName(id, name);
    if (isWrite(flags))
    {
        _api->setProperty(name, toVariant(args.front()));
        return ComVariant();
    }
    if ((flags & DISPATCH_METHOD) && (!(flags & DISPATCH_PROPERTYGET) || _api->hasMethod(name)))
        return toComVariant(_api->invoke(name, toVariantList(args)));
    return toComVariant(_api->getProperty(name));
}

void DispatchBridge::remember(const std::string& message)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _lastException = message;
}

} // namespace FB::Com
