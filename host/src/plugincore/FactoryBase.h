#pragma once

#include "plugincore/PluginCore.h"

#include <cstdint>
#include <memory>
#include <string>

namespace FB {

/// What the framework asks of the application: its plug-in objects and its identity. The
/// application supplies the one instance through getFactoryInstance().
class FactoryBase
{
public:
    virtual ~FactoryBase() = default;

    /// A new plug-in object for an element of the MIME type `mimetype`; null refuses the instance.
    virtual PluginCorePtr createPlugin(const std::string& mimetype) = 0;

    /// Called once when the module is initialised by the browser, and once when it shuts down.
    virtual void globalPluginInitialize() {}
    virtual void globalPluginDeinitialize() {}

    /// The plug-in's name and description as browsers list them.
    virtual std::string getPluginName() const;
    virtual std::string getPluginDescription() const;
    /// The MIME description handed to NPAPI browsers: "type:extensions:description;" per type.
    virtual std::string getMIMEDescription() const;

    /// Asked by DllRegisterServer (`install` true) and DllUnregisterServer (false) when the library's registration
    /// script could not be applied: the application may register some other way. Its result, a component result
    /// code (0 for success, negative for failure), is what the export returns; the default fails with E_FAIL.
    virtual std::int32_t updateRegistry(bool install);
};

using FactoryBasePtr = std::shared_ptr<FactoryBase>;

} // namespace FB

/// Supplied by the application (one definition in the plug-in library): the factory the framework uses.
FB::FactoryBasePtr getFactoryInstance();
