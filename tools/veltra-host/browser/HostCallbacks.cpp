// The C functions of the NPN_ table. Each reaches the HostFunctions alive now; without one, or for
// an instance or object it does not know, a call fails or does nothing instead of touching memory.

#include "browser/HostFunctions.h"
#include "browser/Identifiers.h"
#include "browser/PageObjectProxy.h"
#include "browser/VariantConversion.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace veltra::host {

struct HostCallbacks
{
    static void* memAlloc(uint32_t size)
    {
        void* block = std::malloc(size ? size : 1);
        if (block)
            HostFunctions::countAllocation(true);
        return block;
    }

    static void memFree(void* block)
    {
        if (!block)
            return;
        std::free(block);
        HostFunctions::countAllocation(false);
    }
    static uint32_t memFlush(uint32_t) { return 0; }

    static NPIdentifier stringIdentifier(const NPUTF8* name) { return identifiers::fromString(name); }

    static void stringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* out)
    {
        if (!names || !out)
            return;
        for (int32_t i = 0; i < count; ++i)
            out[i] = identifiers::fromString(names[i]);
    }

    static NPIdentifier intIdentifier(int32_t number) { return identifiers::fromInt(number); }
    static bool identifierIsString(NPIdentifier id) { return identifiers::isString(id); }

    static NPUTF8* utf8FromIdentifier(NPIdentifier id)
    {
        std::optional<std::string> name = identifiers::name(id);
        if (!name)
            return nullptr;
        auto* text = static_cast<NPUTF8*>(memAlloc(static_cast<uint32_t>(name->size() + 1)));
        if (text)
            std::memcpy(text, name->c_str(), name->size() + 1);
        return text;
    }

    static int32_t intFromIdentifier(NPIdentifier id) { return identifiers::number(id).value_or(INT32_MIN); }

    static NPObject* createObject(NPP npp, NPClass* npClass)
    {
        HostFunctions* host = HostFunctions::current();
        return host ? host->createObject(npp, npClass) : nullptr;
    }

    static NPObject* retainObject(NPObject* object)
    {
        if (HostFunctions* host = HostFunctions::current())
            host->retainObject(object);
        return object;
    }

    static void releaseObject(NPObject* object)
    {
        if (HostFunctions* host = HostFunctions::current())
            host->releaseObject(object);
    }

    // The object services forward to the object's class; a missing callback or an unknown object answers false.
    template <typename Callback, typename... Args>
    static bool forward(NPObject* object, Callback NPClass::*member, Args... args)
    {
        HostFunctions* host = HostFunctions::current();
        if (!host || !object || !host->isLiveObject(object) || !object->_class)
            return false;
        Callback callback = object->_class->*member;
        return callback && callback(object, args...);
    }

    static bool invoke(NPP, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                       NPVariant* result)
    {
        if (!result || (count && !args))
            return false;
        VOID_TO_NPVARIANT(*result);
        return forward(object, &NPClass::invoke, name, args, count, result);
    }

    static bool invokeDefault(NPP, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
    {
        if (!result || (count && !args))
            return false;
        VOID_TO_NPVARIANT(*result);
        return forward(object, &NPClass::invokeDefault, args, count, result);
    }

    static bool construct(NPP, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
    {
        if (!result || (count && !args) || !object || !object->_class ||
            !NP_CLASS_STRUCT_VERSION_HAS_CTOR(object->_class))
            return false;
        VOID_TO_NPVARIANT(*result);
        return forward(object, &NPClass::construct, args, count, result);
    }

    static bool getProperty(NPP, NPObject* object, NPIdentifier name, NPVariant* result)
    {
        if (!result)
            return false;
        VOID_TO_NPVARIANT(*result);
        return forward(object, &NPClass::getProperty, name, result);
    }

    static bool setProperty(NPP, NPObject* object, NPIdentifier name, const NPVariant* value)
    {
        return value && forward(object, &NPClass::setProperty, name, value);
    }

    static bool removeProperty(NPP, NPObject* object, NPIdentifier name)
    {
        return forward(object, &NPClass::removeProperty, name);
    }

    static bool hasProperty(NPP, NPObject* object, NPIdentifier name)
    {
        return forward(object, &NPClass::hasProperty, name);
    }

    static bool hasMethod(NPP, NPObject* object, NPIdentifier name)
    {
        return forward(object, &NPClass::hasMethod, name);
    }

    static bool enumerate(NPP, NPObject* object, NPIdentifier** names, uint32_t* count)
    {
        if (!names || !count || !object || !object->_class || !NP_CLASS_STRUCT_VERSION_HAS_ENUM(object->_class))
            return false;
        return forward(object, &NPClass::enumerate, names, count);
    }

    static void releaseVariantValue(NPVariant* value)
    {
        if (!value)
            return;
        if (NPVARIANT_IS_STRING(*value))
            memFree(const_cast<NPUTF8*>(value->value.stringValue.UTF8Characters));
        else if (NPVARIANT_IS_OBJECT(*value))
            releaseObject(value->value.objectValue);
        VOID_TO_NPVARIANT(*value);
    }

    static void setException(NPObject*, const NPUTF8* message)
    {
        HostFunctions::recordException(message ? message : "");
    }

    static NPError getValue(NPP npp, NPNVariable variable, void* value)
    {
        HostFunctions* host = HostFunctions::current();
        if (!value)
            return NPERR_INVALID_PARAM;
        if (!host)
            return NPERR_GENERIC_ERROR;
        switch (variable)
        {
        case NPNVWindowNPObject:
        {
            // The page is reached on the browser thread only.
            if (!host->loop().isBrowserThread())
                return NPERR_GENERIC_ERROR;
            if (!host->isLiveInstance(npp))
                return NPERR_INVALID_INSTANCE_ERROR;
            NPObject* window = host->windowObject(npp);
            *static_cast<NPObject**>(value) = window;
            return window ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
        }
        case NPNVxDisplay:
            if (!host->display())
                return NPERR_GENERIC_ERROR;
            *static_cast<Display**>(value) = host->display();
            return NPERR_NO_ERROR;
        case NPNVToolkit: *static_cast<NPNToolkitType*>(value) = NPNVGtk2; return NPERR_NO_ERROR;
        case NPNVjavascriptEnabledBool: *static_cast<NPBool*>(value) = true; return NPERR_NO_ERROR;
        case NPNVSupportsXEmbedBool:
        case NPNVSupportsWindowless:
        case NPNVisOfflineBool:
        case NPNVprivateModeBool: *static_cast<NPBool*>(value) = false; return NPERR_NO_ERROR;
        default: return NPERR_GENERIC_ERROR;
        }
    }

    static NPError setValue(NPP npp, NPPVariable variable, void* value)
    {
        HostFunctions* host = HostFunctions::current();
        if (!host || !host->isLiveInstance(npp))
            return NPERR_INVALID_INSTANCE_ERROR;
        // The flags are passed in the pointer itself: a null NPPVpluginWindowBool means windowless.
        if (variable == NPPVpluginWindowBool)
            host->setWindowless(npp, value == nullptr);
        return NPERR_NO_ERROR;
    }

    static bool evaluate(NPP npp, NPObject*, NPString* script, NPVariant* result)
    {
        if (!result)
            return false;
        VOID_TO_NPVARIANT(*result);
        HostFunctions* host = HostFunctions::current();
        if (!host || !script || (script->UTF8Length && !script->UTF8Characters))
            return false;
        std::shared_ptr<PageLink> page = host->pageOf(npp);
        PageScript* target = page ? page->script() : nullptr;
        if (!target)
            return false;
        try
        {
            PageValue value = target->evaluate(std::string(script->UTF8Characters, script->UTF8Length));
            return toVariant(*host, page, value, result);
        }
        catch (const std::exception&)
        {
            return false;
        }
    }

    static const char* userAgent(NPP) { return HostFunctions::userAgent(); }

    static void pluginThreadAsyncCall(NPP npp, void (*func)(void*), void* data)
    {
        HostFunctions* host = HostFunctions::current();
        if (!host || !func)
            return;
        std::optional<std::uint64_t> serial = host->serialOf(npp);
        if (!serial)
            return;
        // Checked again when it runs: the instance may be destroyed, and its NPP reused, in between.
        host->loop().post([npp, func, data, serial] {
            HostFunctions* now = HostFunctions::current();
            if (now && now->serialOf(npp) == serial)
                func(data);
        });
    }

    // What a page on our host has no use for.
    static void status(NPP, const char*) {}
    // The plug-in's window holds a new picture. The host reads the whole window whichever part is
    // named, so the three calls mean the same here.
    static void invalidateRect(NPP npp, NPRect*) { announcePicture(npp); }
    static void invalidateRegion(NPP npp, NPRegion) { announcePicture(npp); }
    static void forceRedraw(NPP npp) { announcePicture(npp); }
    static void announcePicture(NPP npp)
    {
        if (HostFunctions* host = HostFunctions::current())
            host->announcePicture(npp);
    }
    static void reloadPlugins(NPBool) {}
    static void* javaEnv() { return nullptr; }
    static void* javaPeer(NPP) { return nullptr; }
    static void pushPopupsEnabled(NPP, NPBool) {}
    static void popPopupsEnabled(NPP) {}
    static uint32_t scheduleTimer(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t)) { return 0; }
    static void unscheduleTimer(NPP, uint32_t) {}
    static NPBool convertPoint(NPP, double, double, NPCoordinateSpace, double*, double*, NPCoordinateSpace)
    {
        return false;
    }
    static NPBool handleEvent(NPP, void*, NPBool) { return false; }
    static NPBool unfocusInstance(NPP, NPFocusDirection) { return false; }
    static void urlRedirectResponse(NPP, void*, NPBool) {}

    // Streams and URLs: the host loads nothing on a plug-in's behalf.
    static NPError getURL(NPP, const char*, const char*) { return NPERR_GENERIC_ERROR; }
    static NPError postURL(NPP, const char*, const char*, uint32_t, const char*, NPBool) { return NPERR_GENERIC_ERROR; }
    static NPError requestRead(NPStream*, NPByteRange*) { return NPERR_GENERIC_ERROR; }
    static NPError newStream(NPP, NPMIMEType, const char*, NPStream**) { return NPERR_GENERIC_ERROR; }
    static int32_t write(NPP, NPStream*, int32_t, void*) { return -1; }
    static NPError destroyStream(NPP, NPStream*, NPReason) { return NPERR_GENERIC_ERROR; }
    static NPError getURLNotify(NPP, const char*, const char*, void*) { return NPERR_GENERIC_ERROR; }
    static NPError postURLNotify(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*)
    {
        return NPERR_GENERIC_ERROR;
    }
    static NPError getValueForURL(NPP, NPNURLVariable, const char*, char**, uint32_t*) { return NPERR_GENERIC_ERROR; }
    static NPError setValueForURL(NPP, NPNURLVariable, const char*, const char*, uint32_t)
    {
        return NPERR_GENERIC_ERROR;
    }
    static NPError authenticationInfo(NPP, const char*, const char*, int32_t, const char*, const char*, char**,
                                      uint32_t*, char**, uint32_t*)
    {
        return NPERR_GENERIC_ERROR;
    }
    static NPError popUpContextMenu(NPP, NPMenu*) { return NPERR_GENERIC_ERROR; }
};

void fillHostTable(NPNetscapeFuncs& table)
{
    using C = HostCallbacks;
    table = NPNetscapeFuncs{};
    table.size = sizeof(NPNetscapeFuncs);
    table.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
    table.geturl = C::getURL;
    table.posturl = C::postURL;
    table.requestread = C::requestRead;
    table.newstream = C::newStream;
    table.write = C::write;
    table.destroystream = C::destroyStream;
    table.status = C::status;
    table.uagent = C::userAgent;
    table.memalloc = C::memAlloc;
    table.memfree = C::memFree;
    table.memflush = C::memFlush;
    table.reloadplugins = C::reloadPlugins;
    table.getJavaEnv = C::javaEnv;
    table.getJavaPeer = C::javaPeer;
    table.geturlnotify = C::getURLNotify;
    table.posturlnotify = C::postURLNotify;
    table.getvalue = C::getValue;
    table.setvalue = C::setValue;
    table.invalidaterect = C::invalidateRect;
    table.invalidateregion = C::invalidateRegion;
    table.forceredraw = C::forceRedraw;
    table.getstringidentifier = C::stringIdentifier;
    table.getstringidentifiers = C::stringIdentifiers;
    table.getintidentifier = C::intIdentifier;
    table.identifierisstring = C::identifierIsString;
    table.utf8fromidentifier = C::utf8FromIdentifier;
    table.intfromidentifier = C::intFromIdentifier;
    table.createobject = C::createObject;
    table.retainobject = C::retainObject;
    table.releaseobject = C::releaseObject;
    table.invoke = C::invoke;
    table.invokeDefault = C::invokeDefault;
    table.evaluate = C::evaluate;
    table.getproperty = C::getProperty;
    table.setproperty = C::setProperty;
    table.removeproperty = C::removeProperty;
    table.hasproperty = C::hasProperty;
    table.hasmethod = C::hasMethod;
    table.releasevariantvalue = C::releaseVariantValue;
    table.setexception = C::setException;
    table.pushpopupsenabledstate = C::pushPopupsEnabled;
    table.poppopupsenabledstate = C::popPopupsEnabled;
    table.enumerate = C::enumerate;
    table.pluginthreadasynccall = C::pluginThreadAsyncCall;
    table.construct = C::construct;
    table.getvalueforurl = C::getValueForURL;
    table.setvalueforurl = C::setValueForURL;
    table.getauthenticationinfo = C::authenticationInfo;
    table.scheduletimer = C::scheduleTimer;
    table.unscheduletimer = C::unscheduleTimer;
    table.popupcontextmenu = C::popUpContextMenu;
    table.convertpoint = C::convertPoint;
    table.handleevent = C::handleEvent;
    table.unfocusinstance = C::unfocusInstance;
    table.urlredirectresponse = C::urlRedirectResponse;
}

} // namespace veltra::host
