#include "plugincore/FactoryBase.h"
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

} // namespace FB
