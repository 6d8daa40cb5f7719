#include "plugincore/FactoryBase.h"

#include "com/ComTypes.h"
#include "plugincore/PluginIdentity.h"

namespace FB {

std::string FactoryBase::getPluginName() const
{
    return PluginIdentity::productName;
}

std::string FactoryBase::getPluginDescription() const
{
    return PluginIdentity::description;
}

std::string FactoryBase::getMIMEDescription() const
{
    return PluginIdentity::mimeDescription;
}

std::int32_t FactoryBase::updateRegistry(bool)
{
    return Com::E_FAIL;
}

} // namespace FB
