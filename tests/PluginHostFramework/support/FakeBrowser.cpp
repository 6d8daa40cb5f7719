#include "FakeBrowser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace veltra::test {
namespace {

FakeBrowser* g_current = nullptr;

struct Identifier
{
    bool isString;
    std::string name;
    int32_t number;
};

// Identifiers are interned for the whole process, as in a browser, so that plug-in code may cache them in statics
// across several FakeBrowser lifetimes.
struct IdentifierTable
{
    std::mutex lock; // guards both maps
    std::map<std::string, std::unique_ptr<Identifier>> strings;
    std::map<int32_t, std::unique_ptr<Identifier>> numbers;
};

IdentifierTable& identifiers()
{
    static IdentifierTable table;
    return table;
}

const Identifier* asIdentifier(NPIdentifier id)
{
    return static_cast<const Identifier*>(id);
}

// Property names of page objects; integer identifiers name array elements as script does.
std::string nameOf(NPIdentifier id)
{
    const Identifier* identifier = asIdentifier(id);
    if (!identifier)
        return {};
    return identifier->isString ? identifier->name : std::to_string(identifier->number);
}

PageObject* page(NPObject* object)
{
    return static_cast<PageObject*>(object);
}

} // namespace

struct FakeBrowser::Callbacks
{
    static void* memAlloc(uint32_t size)
    {
        void* block = std::malloc(size ? size : 1);
        if (block && g_current)
        {
            std::lock_guard<std::mutex> guard(g_current->_lock);
            ++g_current->_allocations;
        }
        return block;
    }

    static void memFree(void* block)
    {
        if (!block)
            return;
        std::free(block);
        if (g_current)
        {
            std::lock_guard<std::mutex> guard(g_current->_lock);
            --g_current->_allocations;
        }
    }

    static NPError getValue(NPP, NPNVariable variable, void* value)
    {
        if (!g_current || !value)
            return NPERR_GENERIC_ERROR;
        if (variable == NPNVWindowNPObject)
        {
            *static_cast<NPObject**>(value) = retainObject(g_current->_window);
            return NPERR_NO_ERROR;
        }
        if (variable == NPNVxDisplay && g_current->_display)
        {
            *static_cast<void**>(value) = g_current->_display;
            return NPERR_NO_ERROR;
        }
        return NPERR_GENERIC_ERROR;
    }

    static const char* userAgent(NPP) { return "Mozilla/5.0 (X11; Linux x86_64) Firefox/52.0"; }

    static NPError setValue(NPP, NPPVariable, void*) { return NPERR_NO_ERROR; }

    static NPIdentifier stringIdentifier(const NPUTF8* name)
    {
        if (!name)
            return nullptr;
        IdentifierTable& table = identifiers();
        std::lock_guard<std::mutex> guard(table.lock);
        std::unique_ptr<Identifier>& slot = table.strings[name];
        if (!slot)
            slot.reset(new Identifier{true, name, 0});
        return slot.get();
    }

    static void stringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* out)
    {
        for (int32_t i = 0; i < count; ++i)
            out[i] = stringIdentifier(names[i]);
    }

    static NPIdentifier intIdentifier(int32_t number)
    {
        IdentifierTable& table = identifiers();
        std::lock_guard<std::mutex> guard(table.lock);
        std::unique_ptr<Identifier>& slot = table.numbers[number];
        if (!slot)
            slot.reset(new Identifier{false, {}, number});
        return slot.get();
    }

    static bool identifierIsString(NPIdentifier id) { return id && asIdentifier(id)->isString; }

    static NPUTF8* utf8FromIdentifier(NPIdentifier id)
    {
        if (!identifierIsString(id))
            return nullptr;
        const std::string& name = asIdentifier(id)->name;
        auto* text = static_cast<NPUTF8*>(memAlloc(static_cast<uint32_t>(name.size() + 1)));
        std::memcpy(text, name.c_str(), name.size() + 1);
        return text;
    }

    static int32_t intFromIdentifier(NPIdentifier id)
    {
        return id && !asIdentifier(id)->isString ? asIdentifier(id)->number : INT32_MIN;
    }

    static NPObject* createObject(NPP npp, NPClass* npClass)
    {
        if (!npClass || !g_current)
            return nullptr;
        NPObject* object =
            npClass->allocate ? npClass->allocate(npp, npClass) : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
        if (!object)
            return nullptr;
        object->_class = npClass;
        object->referenceCount = 1;
        std::lock_guard<std::mutex> guard(g_current->_lock);
        g_current->_live.insert(object);
        return object;
    }

    static NPObject* retainObject(NPObject* object)
    {
        if (!object || !g_current)
            return object;
        std::lock_guard<std::mutex> guard(g_current->_lock);
        if (!g_current->_live.count(object))
            ADD_FAILURE() << "retainobject on an NPObject that is not alive";
        else
            ++object->referenceCount;
        return object;
    }

    static void releaseObject(NPObject* object)
    {
        if (!object || !g_current)
            return;
        {
            std::lock_guard<std::mutex> guard(g_current->_lock);
            if (!g_current->_live.count(object))
            {
                ADD_FAILURE() << "releaseobject on an NPObject that is not alive (released twice?)";
                return;
            }
            if (--object->referenceCount > 0)
                return;
            g_current->_live.erase(object);
        }
        // Outside the lock: deallocating may release the objects this one holds.
        if (object->_class->deallocate)
            object->_class->deallocate(object);
        else
            std::free(object);
    }

    // The object-level services only forward to the object's class; a missing callback answers false.
    template <typename Callback, typename... Args>
    static bool forward(NPObject* object, Callback NPClass::*member, Args... args)
    {
        return object && object->_class->*member && (object->_class->*member)(object, args...);
    }

    static bool invoke(NPP, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                       NPVariant* result)
    {
        VOID_TO_NPVARIANT(*result);
        return forward(object, &NPClass::invoke, name, args, count, result);
    }

    static bool invokeDefault(NPP, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
    {
        VOID_TO_NPVARIANT(*result);
        return forward(object, &NPClass::invokeDefault, args, count, result);
    }

    static bool getProperty(NPP, NPObject* object, NPIdentifier name, NPVariant* result)
    {
        VOID_TO_NPVARIANT(*result);
        return forward(object, &NPClass::getProperty, name, result);
    }

    static bool setProperty(NPP, NPObject* o, NPIdentifier name, const NPVariant* value)
    {
        return forward(o, &NPClass::setProperty, name, value);
    }

    static bool removeProperty(NPP, NPObject* o, NPIdentifier name)
    {
        return forward(o, &NPClass::removeProperty, name);
    }
    static bool hasProperty(NPP, NPObject* o, NPIdentifier name) { return forward(o, &NPClass::hasProperty, name); }
    static bool hasMethod(NPP, NPObject* o, NPIdentifier name) { return forward(o, &NPClass::hasMethod, name); }

    static bool enumerate(NPP, NPObject* o, NPIdentifier** names, uint32_t* count)
    {
        return o && NP_CLASS_STRUCT_VERSION_HAS_ENUM(o->_class) && forward(o, &NPClass::enumerate, names, count);
    }

    static bool evaluate(NPP, NPObject*, NPString* script, NPVariant* result)
    {
        VOID_TO_NPVARIANT(*result);
        if (!g_current || !script)
            return false;
        std::string text(script->UTF8Characters, script->UTF8Length);
        g_current->_evaluated.push_back(text);
        return !g_current->_evaluator || g_current->_evaluator(text, result);
    }

    static void releaseVariantValue(NPVariant* value)
    {
        if (NPVARIANT_IS_STRING(*value))
            memFree(const_cast<NPUTF8*>(value->value.stringValue.UTF8Characters));
        else if (NPVARIANT_IS_OBJECT(*value))
            releaseObject(value->value.objectValue);
        VOID_TO_NPVARIANT(*value);
    }

    static void setException(NPObject*, const NPUTF8* message)
    {
        if (g_current)
            g_current->_lastException = message ? message : "";
    }

    static void pluginThreadAsyncCall(NPP, void (*func)(void*), void* data)
    {
        if (!g_current || !func)
            return;
        std::lock_guard<std::mutex> guard(g_current->_lock);
        if (!g_current->_refused)
            g_current->_pending.push_back({func, data});
    }

    // The class of page objects: each callback forwards to the PageObject's members.
    static NPObject* pageAllocate(NPP, NPClass*) { return new PageObject(); }

    static void pageDeallocate(NPObject* object)
    {
        PageObject* self = page(object);
        for (auto& entry : self->properties)
            releaseVariantValue(&entry.second);
        for (auto& args : self->calls)
            for (NPVariant& arg : args)
                releaseVariantValue(&arg);
        delete self;
    }

    static bool pageHasMethod(NPObject* object, NPIdentifier name) { return page(object)->methods.count(nameOf(name)); }

    static bool pageInvoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                           NPVariant* result)
    {
        auto found = page(object)->methods.find(nameOf(name));
        return found != page(object)->methods.end() && found->second && found->second(args, count, result);
    }

    static bool pageInvokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
    {
        PageObject* self = page(object);
        std::vector<NPVariant> copies;
        for (uint32_t i = 0; i < count; ++i)
            copies.push_back(FakeBrowser::copy(args[i]));
        self->calls.push_back(std::move(copies));
        return !self->call || self->call(args, count, result);
    }

    static bool pageHasProperty(NPObject* object, NPIdentifier name)
    {
        return page(object)->properties.count(nameOf(name));
    }

    static bool pageGetProperty(NPObject* object, NPIdentifier name, NPVariant* result)
    {
        auto found = page(object)->properties.find(nameOf(name));
        if (found == page(object)->properties.end())
            return true; // script reads a missing property as undefined
        *result = FakeBrowser::copy(found->second);
        return true;
    }

    static bool pageSetProperty(NPObject* object, NPIdentifier name, const NPVariant* value)
    {
        page(object)->setProperty(nameOf(name), *value);
        return true;
    }

    static bool pageRemoveProperty(NPObject* object, NPIdentifier name)
    {
        auto found = page(object)->properties.find(nameOf(name));
        if (found != page(object)->properties.end())
        {
            releaseVariantValue(&found->second);
            page(object)->properties.erase(found);
        }
        return true;
    }

    static bool pageEnumerate(NPObject* object, NPIdentifier** names, uint32_t* count)
    {
        std::vector<NPIdentifier> all;
        for (const auto& entry : page(object)->properties)
            all.push_back(stringIdentifier(entry.first.c_str()));
        for (const auto& entry : page(object)->methods)
            all.push_back(stringIdentifier(entry.first.c_str()));
        *count = static_cast<uint32_t>(all.size());
        *names = static_cast<NPIdentifier*>(memAlloc(static_cast<uint32_t>(all.size() * sizeof(NPIdentifier))));
        std::copy(all.begin(), all.end(), *names);
        return true;
    }
};

void PageObject::setProperty(const std::string& name, const NPVariant& value)
{
    // Copy before releasing the old value: the new one may be the old one.
    NPVariant owned = FakeBrowser::copy(value);
    auto found = properties.find(name);
    if (found != properties.end())
        FakeBrowser::Callbacks::releaseVariantValue(&found->second);
    properties[name] = owned;
}

NPClass* PageObject::npClass()
{
    using C = FakeBrowser::Callbacks;
    static NPClass pageClass = {NP_CLASS_STRUCT_VERSION,
                                C::pageAllocate,
                                C::pageDeallocate,
                                nullptr,
                                C::pageHasMethod,
                                C::pageInvoke,
                                C::pageInvokeDefault,
                                C::pageHasProperty,
                                C::pageGetProperty,
                                C::pageSetProperty,
                                C::pageRemoveProperty,
                                C::pageEnumerate,
                                nullptr};
    return &pageClass;
}

FakeBrowser::FakeBrowser()
{
    if (g_current)
        throw std::logic_error("FakeBrowser: another one is alive");
    g_current = this;
    using C = Callbacks;
    _funcs.size = sizeof(NPNetscapeFuncs);
    _funcs.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
    _funcs.memalloc = C::memAlloc;
    _funcs.memfree = C::memFree;
    _funcs.getvalue = C::getValue;
    _funcs.uagent = C::userAgent;
    _funcs.setvalue = C::setValue;
    _funcs.getstringidentifier = C::stringIdentifier;
    _funcs.getstringidentifiers = C::stringIdentifiers;
    _funcs.getintidentifier = C::intIdentifier;
    _funcs.identifierisstring = C::identifierIsString;
    _funcs.utf8fromidentifier = C::utf8FromIdentifier;
    _funcs.intfromidentifier = C::intFromIdentifier;
    _funcs.createobject = C::createObject;
    _funcs.retainobject = C::retainObject;
    _funcs.releaseobject = C::releaseObject;
    _funcs.invoke = C::invoke;
    _funcs.invokeDefault = C::invokeDefault;
    _funcs.evaluate = C::evaluate;
    _funcs.getproperty = C::getProperty;
    _funcs.setproperty = C::setProperty;
    _funcs.removeproperty = C::removeProperty;
    _funcs.hasproperty = C::hasProperty;
    _funcs.hasmethod = C::hasMethod;
    _funcs.releasevariantvalue = C::releaseVariantValue;
    _funcs.setexception = C::setException;
    _funcs.enumerate = C::enumerate;
    _funcs.pluginthreadasynccall = C::pluginThreadAsyncCall;
    _window = createPageObject();
}

FakeBrowser::~FakeBrowser()
{
    release(_window);
    g_current = nullptr;
}

FakeBrowser* FakeBrowser::current()
{
    return g_current;
}

void FakeBrowser::enablePageArrays()
{
    _window->methods["Array"] = [this](const NPVariant*, uint32_t, NPVariant* result) {
        PageObject* array = createPageObject();
        array->methods["push"] = [array](const NPVariant* args, uint32_t, NPVariant*) {
            array->setProperty(std::to_string(array->properties.size()), args[0]);
            return true;
        };
        OBJECT_TO_NPVARIANT(array, *result);
        return true;
    };
}

PageObject* FakeBrowser::createPageObject()
{
    return page(_funcs.createobject(&_instance, PageObject::npClass()));
}

std::size_t FakeBrowser::liveObjects() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _live.size() - _live.count(_window);
}

std::size_t FakeBrowser::liveAllocations() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _allocations;
}

std::size_t FakeBrowser::runPendingCalls()
{
    std::vector<AsyncCall> calls;
    {
        std::lock_guard<std::mutex> guard(_lock);
        calls.swap(_pending);
    }
    // Run outside the lock: a call may schedule further calls.
    for (const AsyncCall& call : calls)
        call.func(call.data);
    return calls.size();
}

std::size_t FakeBrowser::pendingCalls() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _pending.size();
}

void FakeBrowser::setAsyncCallsRefused(bool refused)
{
    std::lock_guard<std::mutex> guard(_lock);
    _refused = refused;
    _funcs.pluginthreadasynccall = refused ? nullptr : Callbacks::pluginThreadAsyncCall;
}

NPIdentifier FakeBrowser::id(const std::string& name)
{
    return Callbacks::stringIdentifier(name.c_str());
}

NPVariant FakeBrowser::stringVariant(const std::string& text)
{
    auto* chars = static_cast<NPUTF8*>(Callbacks::memAlloc(static_cast<uint32_t>(text.size())));
    std::memcpy(chars, text.data(), text.size());
    NPVariant value;
    STRINGN_TO_NPVARIANT(chars, text.size(), value);
    return value;
}

std::string FakeBrowser::text(const NPVariant& value)
{
    if (!NPVARIANT_IS_STRING(value))
        return {};
    return std::string(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length);
}

NPVariant FakeBrowser::copy(const NPVariant& value)
{
    if (NPVARIANT_IS_STRING(value))
        return stringVariant(text(value));
    if (NPVARIANT_IS_OBJECT(value))
        Callbacks::retainObject(value.value.objectValue);
    return value;
}

} // namespace veltra::test
