#pragma once

#include "npapi/NpapiBrowser.h"
#include "scripting/JSObject.h"

#include <string>

namespace FB::Npapi {

/// A page object (a function, a handler, the window) held by the plug-in through the NPAPI browser. Keeps the
/// object retained for its whole life; calls are made on the browser thread (from any other thread they are
/// marshalled there and waited for) and a failed one throws FB::script_error. Once the browser is gone it neither
/// calls nor releases anything.
class NPObjectAPI : public JSObject
{
public:
    /// Retains `object`, which belongs to `browser`.
    NPObjectAPI(NPObject* object, const NpapiBrowserPtr& browser);
    ~NPObjectAPI() override;
    NPObjectAPI(const NPObjectAPI&) = delete;
    NPObjectAPI& operator=(const NPObjectAPI&) = delete;

    variant invokeDefault(const VariantList& args) override;
    variant invoke(const std::string& name, const VariantList& args) override;
    variant getProperty(const std::string& name) override;
    void setProperty(const std::string& name, const variant& value) override;
    bool hasMethod(const std::string& name) override;
    bool hasProperty(const std::string& name) override;
    bool isSameObject(const JSObject& other) const override;

    /// The page object itself (not retained for the caller).
    NPObject* getNPObject() const { return _object; }

private:
    /// The browser, or FB::object_invalidated when it is gone.
    NpapiBrowserPtr browser() const;
    /// Converts `args`, runs `call` with them and converts and releases its result; `what` names the call in errors.
    template <typename Call>
    variant call(const VariantList& args, const std::string& what, Call&& call);

    NPObject* _object;
    NpapiBrowserWeakPtr _browser;
};

} // namespace FB::Npapi
