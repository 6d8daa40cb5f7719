#include "plugincore/FactoryBase.h"

namespace FB {

std::string FactoryBase::getPluginName() const
{
    return "Veltra";
}

std::string FactoryBase::getPluginDescription() const
{
    return "Ombrel webplugin";
}

std::string FactoryBase::getMIMEDescription() const
{
    return "application/x-veltra::Ombrel webplugin;";
}

} // namespace FB
