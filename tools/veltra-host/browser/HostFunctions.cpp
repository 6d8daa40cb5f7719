#include "browser/HostFunctions.h"

#include "browser/PageObjectProxy.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace veltra::host {
namespace {

std::atomic<HostFunctions*> g_current{nullptr};

// Per thread: a plug-in sets the exception on the thread that made the failing call.
thread_local std::optional<std::string> t_exception;

std::atomic<std::size_t> g_allocations{0};

} // namespace

void fillHostTable(NPNetscapeFuncs& table); // HostCallbacks.cpp

HostFunctions::HostFunctions(BrowserLoop& loop, Display* display) : _loop(loop), _display(display)
{
    HostFunctions* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this))
        throw std::logic_error("Another HostFunctions is alive; the plug-in interface has room for one");
    fillHostTable(_table);
}

HostFunctions::~HostFunctions()
{
    std::map<NPP, InstanceRecord> left;
    {
        std::lock_guard<std::mutex> guard(_lock);
        left.swap(_instances);
    }
    for (auto& entry : left)
        releaseObject(entry.second.window);
    g_current = nullptr;
}

HostFunctions* HostFunctions::current()
{
    return g_current;
}

const char* HostFunctions::userAgent()
{
    return "Mozilla/5.0 (X11; Linux x86_64) veltra-host/1.0";
}

NPObject* HostFunctions::createObject(NPP npp, NPClass* npClass)
{
    if (!npClass)
        return nullptr;
    NPObject* object =
        npClass->allocate ? npClass->allocate(npp, npClass) : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
    if (!object)
        return nullptr;
    object->_class = npClass;
    object->referenceCount = 1;
    std::lock_guard<std::mutex> guard(_lock);
    _live.insert(object);
    return object;
}

NPObject* HostFunctions::retainObject(NPObject* object)
{
    std::lock_guard<std::mutex> guard(_lock);
    if (object && _live.count(object))
        ++object->referenceCount;
    return object;
}

void HostFunctions::releaseObject(NPObject* object)
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (!object || !_live.count(object))
            return;
        if (--object->referenceCount > 0)
            return;
        _live.erase(object);
    }
    // Outside the lock: freeing an object may release the objects it holds.
    if (object->_class->deallocate)
        object->_class->deallocate(object);
    else
        std::free(object);
}

std::size_t HostFunctions::liveObjects() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _live.size();
}

std::size_t HostFunctions::liveProxies() const
{
    std::lock_guard<std::mutex> guard(_lock);
    std::size_t count = 0;
    for (const NPObject* object : _live)
        count += pageHandleOf(object).has_value();
    return count;
}

bool HostFunctions::isLiveObject(const NPObject* object) const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _live.count(object) != 0;
}

std::size_t HostFunctions::liveAllocations()
{
    return g_allocations;
}

void HostFunctions::countAllocation(bool allocated)
{
    if (allocated)
        ++g_allocations;
    else
        --g_allocations;
}

void HostFunctions::clearException()
{
    t_exception.reset();
}

std::optional<std::string> HostFunctions::takeException()
{
    std::optional<std::string> message = std::move(t_exception);
    t_exception.reset();
    return message;
}

void HostFunctions::recordException(std::string message)
{
    t_exception = std::move(message);
}

void HostFunctions::attachInstance(NPP npp, std::shared_ptr<PageLink> page)
{
    if (!npp)
        throw std::invalid_argument("attachInstance: null instance");
    std::lock_guard<std::mutex> guard(_lock);
    InstanceRecord& record = _instances[npp];
    record.page = std::move(page);
    record.serial = ++_lastSerial;
}

void HostFunctions::detachInstance(NPP npp)
{
    NPObject* window = nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        auto found = _instances.find(npp);
        if (found == _instances.end())
            return;
        window = found->second.window;
        _instances.erase(found);
    }
    releaseObject(window);
}

bool HostFunctions::isLiveInstance(NPP npp) const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _instances.count(npp) != 0;
}

bool HostFunctions::isWindowless(NPP npp) const
{
    std::lock_guard<std::mutex> guard(_lock);
    auto found = _instances.find(npp);
    return found != _instances.end() && found->second.windowless;
}

std::uint64_t HostFunctions::picturesAnnounced(NPP npp) const
{
    std::lock_guard<std::mutex> guard(_lock);
    auto found = _instances.find(npp);
    return found == _instances.end() ? 0 : found->second.picturesAnnounced;
}

void HostFunctions::announcePicture(NPP npp)
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        auto found = _instances.find(npp);
        if (found == _instances.end())
            return;
        ++found->second.picturesAnnounced;
    }
    if (_pictureListener)
        _pictureListener();
}

void HostFunctions::setWindowless(NPP npp, bool windowless)
{
    std::lock_guard<std::mutex> guard(_lock);
    auto found = _instances.find(npp);
    if (found != _instances.end())
        found->second.windowless = windowless;
}

std::shared_ptr<PageLink> HostFunctions::pageOf(NPP npp) const
{
    std::lock_guard<std::mutex> guard(_lock);
    auto found = _instances.find(npp);
    return found == _instances.end() ? nullptr : found->second.page;
}

std::optional<std::uint64_t> HostFunctions::serialOf(NPP npp) const
{
    std::lock_guard<std::mutex> guard(_lock);
    auto found = _instances.find(npp);
    if (found == _instances.end())
        return std::nullopt;
    return found->second.serial;
}

NPObject* HostFunctions::windowObject(NPP npp)
{
    std::shared_ptr<PageLink> page;
    {
        std::lock_guard<std::mutex> guard(_lock);
        auto found = _instances.find(npp);
        if (found == _instances.end())
            return nullptr;
        if (found->second.window)
        {
            ++found->second.window->referenceCount;
            return found->second.window;
        }
        page = found->second.page;
    }
    PageScript* script = page ? page->script() : nullptr;
    if (!script)
        return nullptr;
    // Made outside the lock: asking the page for its window is a page call.
    NPObject* made = makePageObjectProxy(*this, npp, page, script->window());
    if (!made)
        return nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        auto found = _instances.find(npp);
        if (found != _instances.end() && !found->second.window)
        {
            found->second.window = made;
            ++made->referenceCount; // one for the record, one for the caller
            return made;
        }
    }
    // The instance left (or another proxy won) meanwhile; the caller gets this one alone.
    return made;
}

} // namespace veltra::host
