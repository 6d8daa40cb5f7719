#pragma once

#include "variant/variant.h"

#include <string>

namespace FB {

/// A page object held by the plug-in: a function, an event handler, the window or any other
/// script object. Calls into it are made on the browser thread only.
class JSObject
{
public:
    virtual ~JSObject() = default;

    /// Calls the object itself as a function (an event handler, a callback).
    virtual variant invokeDefault(const VariantList& args) = 0;
    /// Calls the method `name` of the object.
    virtual variant invoke(const std::string& name, const VariantList& args) = 0;
    virtual variant getProperty(const std::string& name) = 0;
    virtual void setProperty(const std::string& name, const variant& value) = 0;
    virtual bool hasMethod(const std::string& name) = 0;
    virtual bool hasProperty(const std::string& name) = 0;

    /// True when both refer to the same page object (handlers are detached by identity).
    virtual bool isSameObject(const JSObject& other) const = 0;
};

} // namespace FB
