#include "PluginFactory.h"

#include "Veltra.h"

FB::PluginCorePtr PluginFactory::createPlugin(const std::string&)
{
    return std::make_shared<Veltra>();
}

FB::FactoryBasePtr getFactoryInstance()
{
    static FB::FactoryBasePtr factory = std::make_shared<PluginFactory>();
    return factory;
}
