#include "npapi/NpapiPluginModule.h"

#include "npapi/AsyncCalls.h"
#include "npapi/NpapiHeaders.h"

#include <algorithm>
#include <cstring>

namespace FB::Npapi {
namespace {

std::unique_ptr<NpapiPluginModule> g_module;

} // namespace

NpapiPluginModule& NpapiPluginModule::instance()
{
    if (!g_module)
        g_module.reset(new NpapiPluginModule());
    return *g_module;
}

NpapiPluginModule* NpapiPluginModule::current()
{
    return g_module.get();
}

void NpapiPluginModule::release()
{
    g_module.reset();
}

NpapiPluginModule::NpapiPluginModule() : _factory(getFactoryInstance())
{
    if (_factory)
    {
        _name = _factory->getPluginName();
        _description = _factory->getPluginDescription();
        _mimeDescription = _factory->getMIMEDescription();
    }
}

NpapiPluginModule::~NpapiPluginModule()
{
    AsyncCalls::dropAll();
    if (_initialized && _factory)
        _factory->globalPluginDeinitialize();
}

void NpapiPluginModule::initialize(const NPNetscapeFuncs& browserFuncs)
{
    if (!_browserFuncs)
        _browserFuncs = std::make_unique<NPNetscapeFuncs>();
    // An older browser hands a shorter table; the entries it does not have stay null.
    std::size_t size = browserFuncs.size ? std::min<std::size_t>(browserFuncs.size, sizeof(NPNetscapeFuncs))
                                         : sizeof(NPNetscapeFuncs);
    *_browserFuncs = NPNetscapeFuncs{};
    std::memcpy(_browserFuncs.get(), &browserFuncs, size);
    if (!_initialized && _factory)
    {
        _factory->globalPluginInitialize();
        _initialized = true;
    }
}

const NPNetscapeFuncs* NpapiPluginModule::browserFuncs() const
{
    return _browserFuncs.get();
}

} // namespace FB::Npapi
