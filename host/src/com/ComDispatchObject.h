#pragma once

#include "com/ComDispatchTypes.h"
#include "scripting/JSObject.h"

namespace FB::Com {

/// A script host's dispatch object as the plug-in sees it (an event handler, a callback, any object the
/// page passes in): calls go to its members by name, and calling the object itself goes to DISPID_VALUE.
/// A failed call throws FB::invalid_member for an unknown name and FB::script_error for anything else.
class DispatchObject final : public JSObject
{
public:
    /// Holds one reference to `object` (not null) for its lifetime.
    explicit DispatchObject(IDispatch* object);

    IDispatch* dispatch() const { return _object.get(); }

    variant invokeDefault(const VariantList& args) override;
    variant invoke(const std::string& name, const VariantList& args) override;
    variant getProperty(const std::string& name) override;
    void setProperty(const std::string& name, const variant& value) override;
    bool hasMethod(const std::string& name) override;
    bool hasProperty(const std::string& name) override;
    /// Same object by the component model's identity rule: the same IUnknown.
    bool isSameObject(const JSObject& other) const override;

private:
    variant call(DispId id, std::uint16_t flags, const VariantList& args);
    DispId idOf(const std::string& name);

    DispatchRef _object;
};

} // namespace FB::Com
