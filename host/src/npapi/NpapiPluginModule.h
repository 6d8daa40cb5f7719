#pragma once

#include "npapi/NpapiTypes.h"
#include "plugincore/FactoryBase.h"

#include <memory>
#include <string>

namespace FB::Npapi {

/// The plug-in library as one NPAPI browser sees it: the browser's function table (copied at
/// NP_Initialize), the application's factory and the strings handed out by NP_GetValue. It exists
/// from the first entry point the browser calls until NP_Shutdown.
class NpapiPluginModule
{
public:
    /// The module object, created on first use.
    static NpapiPluginModule& instance();
    /// The module object, or null when there is none.
    static NpapiPluginModule* current();
    /// Deinitialises the factory when it was initialised, drops every queued asynchronous call and
    /// destroys the module object.
    static void release();

    ~NpapiPluginModule();
    NpapiPluginModule(const NpapiPluginModule&) = delete;
    NpapiPluginModule& operator=(const NpapiPluginModule&) = delete;

    /// Copies the browser's table (as much of it as the browser filled in, by its size field) and
    /// initialises the factory once.
    void initialize(const NPNetscapeFuncs& browserFuncs);
    /// The copied table; null before initialize.
    const NPNetscapeFuncs* browserFuncs() const;

    const FactoryBasePtr& factory() const { return _factory; }
    /// The factory's name, description and MIME description, kept here for the browser to read.
    const std::string& pluginName() const { return _name; }
    const std::string& pluginDescription() const { return _description; }
    const std::string& mimeDescription() const { return _mimeDescription; }

private:
    NpapiPluginModule();

    std::unique_ptr<NPNetscapeFuncs> _browserFuncs;
    FactoryBasePtr _factory;
    bool _initialized = false;
    std::string _name;
    std::string _description;
    std::string _mimeDescription;
};

} // namespace FB::Npapi
