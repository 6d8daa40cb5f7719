#pragma once

#include "registry/Registry.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace veltra::test {

/// Fills both stores as on a system where other programs registered before us: every key the plug-in's
/// script marks NoRemove exists already, and a class of another program has a value, so that unregistering
/// must give back exactly this.
inline void seedOtherPrograms(FB::registry::Registry& registry)
{
    using FB::registry::Root;
    const std::vector<std::pair<Root, std::string>> keys = {
        {Root::CurrentUser, "Software\\Classes\\AppID"},
        {Root::CurrentUser, "Software\\Classes\\CLSID\\{other}"},
        {Root::CurrentUser, "Software\\Classes\\MIME\\Database\\Content Type"},
        {Root::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved"},
        {Root::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats"},
        {Root::CurrentUser, "Software\\MozillaPlugins\\x"},
        {Root::ClassesRoot, "AppID"},
        {Root::ClassesRoot, "CLSID"},
        {Root::ClassesRoot, "MIME\\Database\\Content Type\\text/html"},
    };
    for (const auto& [root, path] : keys)
        ASSERT_TRUE(registry.createKey(root, path).ok()) << path;
    ASSERT_TRUE(registry.setString(Root::CurrentUser, "Software\\Classes\\CLSID\\{other}", "", "Other program").ok());
}

/// Both stores as text, to compare whole states.
inline std::string dumpStores(FB::registry::Registry& registry)
{
    std::string user;
    std::string machine;
    EXPECT_TRUE(registry.dump(FB::registry::Store::User, user).ok());
    EXPECT_TRUE(registry.dump(FB::registry::Store::Machine, machine).ok());
    return "user:\n" + user + "machine:\n" + machine;
}

} // namespace veltra::test
