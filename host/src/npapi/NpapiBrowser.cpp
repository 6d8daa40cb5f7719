#include "npapi/NpapiBrowser.h"

#include "npapi/AsyncCalls.h"
#include "npapi/NPJavascriptObject.h"
#include "npapi/NPObjectAPI.h"
#include "npapi/NpapiHeaders.h"
#include "npapi/NpapiVariant.h"
#include "variant/ScriptErrors.h"

#include <algorithm>
#include <cstring>

namespace FB::Npapi {
namespace {

// The page function behind writeToConsole. Its first argument has one letter per line, "w" for console.warn and
// anything else for console.log; the lines follow as the other arguments. False for a page without a console.
const char* const kConsoleFunction = "__FB_CONSOLE";
const char* const kConsoleFunctionScript =
    "window.__FB_CONSOLE = function(levels) {"
    "  var c = window.console;"
    "  if (!c || typeof c.log !== 'function') return false;"
    "  for (var i = 1; i < arguments.length; ++i) {"
    "    var write = levels.charAt(i - 1) === 'w' && typeof c.warn === 'function' ? c.warn : c.log;"
    "    write.call(c, arguments[i]);"
    "  }"
    "  return true;"
    "};";

// Script engines limit the arguments of one call (65536 in the strictest), and pages pass them on with apply: a
// larger batch takes more than one call.
const std::size_t kLinesPerCall = 16384;

} // namespace

NpapiBrowserPtr NpapiBrowser::create(const NPNetscapeFuncs* funcs, NPP npp)
{
    return NpapiBrowserPtr(new NpapiBrowser(funcs, npp));
}

NpapiBrowser::NpapiBrowser(const NPNetscapeFuncs* funcs, NPP npp)
    : _funcs(funcs), _npp(npp), _mainThread(std::this_thread::get_id())
{}

NpapiBrowser::~NpapiBrowser()
{
    // Only a fallback: page objects released as a consequence can no longer reach this browser, so owners call
    // shutdown() while it is still alive.
    shutdown();
}

NPIdentifier NpapiBrowser::getStringIdentifier(const std::string& name) const
{
    return _funcs->getstringidentifier ? _funcs->getstringidentifier(name.c_str()) : nullptr;
}

NPIdentifier NpapiBrowser::getIntIdentifier(int32_t number) const
{
    return _funcs->getintidentifier ? _funcs->getintidentifier(number) : nullptr;
}

bool NpapiBrowser::identifierIsString(NPIdentifier id) const
{
    return _funcs->identifierisstring && _funcs->identifierisstring(id);
}

std::string NpapiBrowser::stringFromIdentifier(NPIdentifier id) const
{
    if (!identifierIsString(id))
        return std::to_string(intFromIdentifier(id));
    NPUTF8* text = _funcs->utf8fromidentifier ? _funcs->utf8fromidentifier(id) : nullptr;
    if (!text)
        return {};
    std::string name(text);
    memFree(text); // the browser allocated it for us
    return name;
}

int32_t NpapiBrowser::intFromIdentifier(NPIdentifier id) const
{
    return _funcs->intfromidentifier ? _funcs->intfromidentifier(id) : 0;
}

NPObject* NpapiBrowser::createObject(NPClass* npClass) const
{
    return _funcs->createobject ? _funcs->createobject(_npp, npClass) : nullptr;
}

NPObject* NpapiBrowser::retainObject(NPObject* object) const
{
    return _funcs->retainobject && object ? _funcs->retainobject(object) : object;
}

void NpapiBrowser::releaseObject(NPObject* object) const
{
    if (_funcs->releaseobject && object)
        _funcs->releaseobject(object);
}

void NpapiBrowser::releaseFromAnyThread(NPObject* object)
{
    if (!object)
        return;
    {
        std::lock_guard<std::mutex> lock(_deferredLock);
        _deferredReleases.push_back(object);
    }
    std::weak_ptr<BrowserHost> weak = weak_from_this();
    scheduleOnMainThread([weak] {
        if (auto host = std::static_pointer_cast<NpapiBrowser>(weak.lock()))
            host->releaseDeferredObjects();
    });
}

void NpapiBrowser::releaseDeferredObjects()
{
    std::vector<NPObject*> owed;
    {
        std::lock_guard<std::mutex> lock(_deferredLock);
        owed.swap(_deferredReleases);
    }
    for (NPObject* object : owed)
        releaseObject(object);
}

bool NpapiBrowser::invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                          NPVariant* result) const
{
    VOID_TO_NPVARIANT(*result);
    return _funcs->invoke && _funcs->invoke(_npp, object, name, args, count, result);
}

bool NpapiBrowser::invokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) const
{
    VOID_TO_NPVARIANT(*result);
    return _funcs->invokeDefault && _funcs->invokeDefault(_npp, object, args, count, result);
}

bool NpapiBrowser::getProperty(NPObject* object, NPIdentifier name, NPVariant* result) const
{
    VOID_TO_NPVARIANT(*result);
    return _funcs->getproperty && _funcs->getproperty(_npp, object, name, result);
}

bool NpapiBrowser::setProperty(NPObject* object, NPIdentifier name, const NPVariant* value) const
{
    return _funcs->setproperty && _funcs->setproperty(_npp, object, name, value);
}

bool NpapiBrowser::hasMethod(NPObject* object, NPIdentifier name) const
{
    return _funcs->hasmethod && _funcs->hasmethod(_npp, object, name);
}

bool NpapiBrowser::hasProperty(NPObject* object, NPIdentifier name) const
{
    return _funcs->hasproperty && _funcs->hasproperty(_npp, object, name);
}

bool NpapiBrowser::removeProperty(NPObject* object, NPIdentifier name) const
{
    return _funcs->removeproperty && _funcs->removeproperty(_npp, object, name);
}

bool NpapiBrowser::enumerate(NPObject* object, std::vector<NPIdentifier>& names) const
{
    names.clear();
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    if (!_funcs->enumerate || !_funcs->enumerate(_npp, object, &ids, &count))
        return false;
    if (ids)
    {
        names.assign(ids, ids + count);
        memFree(ids);
    }
    return true;
}

void NpapiBrowser::releaseVariantValue(NPVariant* value) const
{
    if (_funcs->releasevariantvalue)
        _funcs->releasevariantvalue(value);
    else
        VOID_TO_NPVARIANT(*value);
}

void NpapiBrowser::setException(NPObject* object, const std::string& message) const
{
    if (_funcs->setexception)
        _funcs->setexception(object, message.c_str());
}

void* NpapiBrowser::memAlloc(uint32_t size) const
{
    return _funcs->memalloc ? _funcs->memalloc(size) : nullptr;
}

void NpapiBrowser::memFree(void* block) const
{
    if (_funcs->memfree && block)
        _funcs->memfree(block);
}

NPObjectAPIPtr NpapiBrowser::getWindowObject()
{
    NPObject* window = nullptr;
    if (!_funcs->getvalue || _funcs->getvalue(_npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR || !window)
        return nullptr;
    auto wrapped = std::make_shared<NPObjectAPI>(window, self());
    releaseObject(window); // the browser gave us a reference; the wrapper holds its own
    return wrapped;
}

NPJavascriptObject* NpapiBrowser::getJSAPIWrapper(const JSAPIPtr& api)
{
    if (!api || isShutDown())
        return nullptr;
    auto found = _wrappers.find(api.get());
    if (found != _wrappers.end())
    {
        retainObject(found->second);
        return found->second;
    }
    NPJavascriptObject* wrapper = NPJavascriptObject::create(self(), api);
    if (wrapper)
        _wrappers[api.get()] = wrapper;
    return wrapper;
}

JSObjectPtr NpapiBrowser::domWindow()
{
    return getWindowObject();
}

std::string NpapiBrowser::userAgent() const
{
    const char* agent = _funcs->uagent ? _funcs->uagent(_npp) : nullptr;
    return agent ? agent : "";
}

bool NpapiBrowser::isMainThread() const
{
    return std::this_thread::get_id() == _mainThread;
}

bool NpapiBrowser::scheduleAsyncCall(std::function<void()> call)
{
    std::lock_guard<std::mutex> lock(_scheduleLock);
    if (_closed || !_funcs->pluginthreadasynccall)
        return false;
    _funcs->pluginthreadasynccall(_npp, &AsyncCalls::run, AsyncCalls::add(this, std::move(call)));
    return true;
}

variant NpapiBrowser::evaluate(const std::string& script)
{
    NPObject* window = nullptr;
    if (!_funcs->getvalue || _funcs->getvalue(_npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR || !window)
        throw script_error("The page has no window object");
    NPString text{script.c_str(), static_cast<uint32_t>(script.size())};
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    bool evaluated = _funcs->evaluate && _funcs->evaluate(_npp, window, &text, &result);
    releaseObject(window);
    if (!evaluated)
        throw script_error("Error evaluating script");
    variant value;
    try
    {
        value = NpapiVariant::toVariant(self(), result);
    }
    catch (...)
    {
        releaseVariantValue(&result);
        throw;
    }
    releaseVariantValue(&result);
    return value;
}

bool NpapiBrowser::writeToConsole(const std::vector<ConsoleLine>& lines)
{
    NPObject* window = nullptr;
    if (!_funcs->getvalue || _funcs->getvalue(_npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR || !window)
        return false;
    bool written = true;
    for (std::size_t from = 0; written && from < lines.size(); from += kLinesPerCall)
    {
        std::size_t count = std::min(kLinesPerCall, lines.size() - from);
        bool fresh = !_consoleFunctionInstalled;
        int outcome = -1;
        if (_consoleFunctionInstalled || installConsoleFunction(window))
            outcome = callConsoleFunction(window, &lines[from], count);
        // The page can lose our function (a script overwrote it): defined again, once, before giving up.
        if (outcome < 0 && !fresh && installConsoleFunction(window))
            outcome = callConsoleFunction(window, &lines[from], count);
        if (outcome < 0)
            _consoleFunctionInstalled = false;
        written = outcome > 0;
    }
    releaseObject(window);
    return written;
}

bool NpapiBrowser::installConsoleFunction(NPObject* window)
{
    NPString script{kConsoleFunctionScript, static_cast<uint32_t>(std::strlen(kConsoleFunctionScript))};
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    _consoleFunctionInstalled = _funcs->evaluate && _funcs->evaluate(_npp, window, &script, &result);
    if (_consoleFunctionInstalled)
        releaseVariantValue(&result);
    return _consoleFunctionInstalled;
}

int NpapiBrowser::callConsoleFunction(NPObject* window, const ConsoleLine* first, std::size_t count)
{
    std::string levels;
    levels.reserve(count);
    std::vector<NPVariant> args(count + 1);
    for (std::size_t i = 0; i < count; ++i)
    {
        levels += first[i].level == ConsoleLine::Level::Warn ? 'w' : 'l';
        // Borrowed, as console.log's argument was: the browser copies what it keeps.
        STRINGN_TO_NPVARIANT(first[i].text.data(), static_cast<uint32_t>(first[i].text.size()), args[i + 1]);
    }
    STRINGN_TO_NPVARIANT(levels.data(), static_cast<uint32_t>(levels.size()), args[0]);
    NPVariant result;
    if (!invoke(window, getStringIdentifier(kConsoleFunction), args.data(), static_cast<uint32_t>(args.size()),
                &result))
        return -1;
    bool noConsole = NPVARIANT_IS_BOOLEAN(result) && !NPVARIANT_TO_BOOLEAN(result);
    releaseVariantValue(&result);
    return noConsole ? 0 : 1;
}

void NpapiBrowser::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(_scheduleLock);
        if (_closed)
            return;
        _closed = true;
    }
    AsyncCalls::dropOwnedBy(this);
    BrowserHost::shutdown();
    releaseDeferredObjects();
    std::map<const JSAPI*, NPJavascriptObject*> wrappers;
    wrappers.swap(_wrappers);
    // Dropping one scriptable object can release page objects that hold other wrappers; the extra reference keeps
    // each wrapper alive until the loop is done with it.
    for (auto& entry : wrappers)
        retainObject(entry.second);
    for (auto& entry : wrappers)
        entry.second->invalidate();
    for (auto& entry : wrappers)
        releaseObject(entry.second);
}

void NpapiBrowser::forgetWrapper(const NPJavascriptObject* wrapper)
{
    for (auto it = _wrappers.begin(); it != _wrappers.end(); ++it)
    {
        if (it->second == wrapper)
        {
            _wrappers.erase(it);
            return;
        }
    }
}

} // namespace FB::Npapi
