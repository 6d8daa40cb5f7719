#pragma once

#include "plugincore/FactoryBase.h"

/// Makes one Veltra plug-in object per page element; everything else is the framework's default.
class PluginFactory : public FB::FactoryBase
{
public:
    FB::PluginCorePtr createPlugin(const std::string& mimetype) override;
};
