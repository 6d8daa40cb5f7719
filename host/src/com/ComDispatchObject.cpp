#include "com/ComDispatchObject.h"

#include "com/ComVariant.h"
#include "com/ComVariantConversion.h"
#include "variant/ScriptErrors.h"

#include <cstdio>

namespace FB::Com {
namespace {

std::string failureText(HResult result)
{
    char text[64];
    std::snprintf(text, sizeof text, "The dispatch call failed with 0x%08X",
                  static_cast<unsigned>(static_cast<std::uint32_t>(result)));
    return text;
}

// The identity pointer of a dispatch object; the object itself when it does not answer IUnknown.
const void* identity(IDispatch* object)
{
    void* unknown = nullptr;
    if (failed(object->QueryInterface(IID_IUnknown, &unknown)) || !unknown)
        return object;
    static_cast<IUnknown*>(unknown)->Release(); // only the address is kept, and `object` holds it alive
    return unknown;
}

} // namespace

DispatchObject::DispatchObject(IDispatch* object) : _object(object)
{}

variant DispatchObject::invokeDefault(const VariantList& args)
{
    return call(DISPID_VALUE, DISPATCH_METHOD, args);
}

variant DispatchObject::invoke(const std::string& name, const VariantList& args)
{
    return call(idOf(name), DISPATCH_METHOD, args);
}

variant DispatchObject::getProperty(const std::string& name)
{
    return call(idOf(name), DISPATCH_PROPERTYGET, {});
}

void DispatchObject::setProperty(const std::string& name, const variant& value)
{
    call(idOf(name), DISPATCH_PROPERTYPUT, {value});
}

bool DispatchObject::hasMethod(const std::string& name)
{
    DispId id = DISPID_UNKNOWN;
    return !failed(_object->GetDispID(name, &id));
}

bool DispatchObject::hasProperty(const std::string& name)
{
    return hasMethod(name); // a dispatch object does not tell methods from properties by name
}

bool DispatchObject::isSameObject(const JSObject& other) const
{
    auto* object = dynamic_cast<const DispatchObject*>(&other);
    return object && identity(object->dispatch()) == identity(dispatch());
}

variant DispatchObject::call(DispId id, std::uint16_t flags, const VariantList& args)
{
    std::vector<ComVariant> converted;
    converted.reserve(args.size());
    for (const variant& arg : args)
        converted.push_back(toComVariant(arg));
    ComVariant result;
    const HResult outcome = _object->Invoke(id, flags, converted, &result);
    if (failed(outcome))
        throw script_error(failureText(outcome));
    return toVariant(result);
}

DispId DispatchObject::idOf(const std::string& name)
{
    DispId id = DISPID_UNKNOWN;
    if (failed(_object->GetDispID(name, &id)))
        throw invalid_member(name);
    return id;
}

} // namespace FB::Com
