// Finding the plug-in library through the registry, and registering it through its own DllInstall: the locator
// functions directly, then the host program as a user runs it. Both registry stores always lie in a temporary folder.
#include "BuildOutputs.h"
#include "HostProgramRun.h"
#include "ScopedEnv.h"
#include "TempDir.h"

#include "browser/PluginLocator.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace veltra::host;
using FB::registry::Registry;
using FB::registry::Root;
using veltra::test::ScopedEnv;

namespace {

const std::string kUserKey = "HKEY_CURRENT_USER\\Software\\MozillaPlugins\\";
const std::string kMachineKey = "HKEY_LOCAL_MACHINE\\Software\\MozillaPlugins\\";

std::string normalised(const std::string& path)
{
    return std::filesystem::path(path).lexically_normal().string();
}

// A real library without NPAPI exports: the C math library this program runs with.
std::string mathLibrary()
{
    Dl_info info{};
    double (*cosine)(double) = std::cos;
    return dladdr(reinterpret_cast<void*>(cosine), &info) && info.dli_fname ? info.dli_fname : "";
}

bool mentions(const std::vector<std::string>& lines, const std::string& part)
{
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

class PluginLocator : public ::testing::Test
{
protected:
    veltra::test::TempDir folder;
    // The library under test writes the stores the environment names, the locator reads them through `registry`.
    ScopedEnv user{"VELTRA_REGISTRY_USER", folder.file("user.reg")};
    ScopedEnv machine{"VELTRA_REGISTRY_MACHINE", folder.file("machine.reg")};
    Registry registry{{folder.file("user.reg"), folder.file("machine.reg")}};
    const std::string plugin = normalised(veltra::test::builtLibrary(VELTRA_PLUGIN_LIBRARY));
    const std::string testPlugin = normalised(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));

    void registerKey(Root root, const std::string& name, const std::optional<std::string>& path)
    {
        const std::string key = std::string(kMozillaPluginsKey) + "\\" + name;
        ASSERT_TRUE(registry.createKey(root, key).ok());
        if (path)
        {
            ASSERT_TRUE(registry.setString(root, key, "Path", *path).ok());
        }
    }
};

TEST_F(PluginLocator, MimeDescriptionListsWholeTypesOnly)
{
    const struct
    {
        const char* description;
        bool listed;
    } cases[] = {
        {"application/x-veltra::Ombrel webplugin;", true},
        {"image/png:png:Pictures;Application/X-Veltra:vlt:Veltra", true}, // second entry, any case
        {" application/x-veltra :: spaced ;", true},
        {"application/x-veltra", true},
        {"application/x-veltra-extra::Longer type;", false},
        {"text/plain::plays application/x-veltra;", false}, // named in a description only
        {"", false},
        {";;", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mimeDescriptionLists(c.description, kPluginMimeType), c.listed) << c.description;
}

TEST_F(PluginLocator, RegistryKeysArePassedOverWithTheirReason)
{
    const std::string garbage = folder.write("npgarbage.so", "not a library\n");
    struct Key
    {
        Root root;
        std::string name;
        std::optional<std::string> path;
    };
    struct Case
    {
        const char* what;
        std::vector<Key> keys;
        std::string found;  // "" when none should be
        std::string origin; // or the failure's part when none is found
        std::vector<std::string> skipped;
    };
    const Case cases[] = {
        {"no keys",
         {},
         "",
         "(looked at HKEY_CURRENT_USER\\Software\\MozillaPlugins (absent), "
         "HKEY_LOCAL_MACHINE\\Software\\MozillaPlugins (absent))",
         {}},
        {"user keys before machine keys",
         {{Root::LocalMachine, "a.com/Machine", testPlugin}, {Root::CurrentUser, "z.com/User", plugin}},
         plugin,
         kUserKey + "z.com/User",
         {}},
        {"missing file, then the machine's",
         {{Root::CurrentUser, "ombrel.com/Veltra", folder.file("gone/npveltra.so")},
          {Root::LocalMachine, "ombrel.com/Veltra", plugin}},
         plugin,
         kMachineKey + "ombrel.com/Veltra",
         {kUserKey + "ombrel.com/Veltra: Path " + folder.file("gone/npveltra.so") + " does not exist"}},
        {"not our plug-in, then ours in name order",
         {{Root::CurrentUser, "a/NoPath", std::nullopt},
          {Root::CurrentUser, "b/Relative", "npveltra.so"},
          {Root::CurrentUser, "c/Garbage", garbage},
          {Root::CurrentUser, "d/Math", mathLibrary()},
          {Root::CurrentUser, "e/Folder", folder.path().string()},
          {Root::CurrentUser, "f/Veltra", testPlugin}},
         testPlugin,
         kUserKey + "f/Veltra",
         {kUserKey + "a/NoPath: no Path string (not-found)",
          kUserKey + "b/Relative: Path \"npveltra.so\" is not an absolute path",
          kUserKey + "c/Garbage: Path " + garbage + " cannot be opened: ",
          kUserKey + "d/Math: Path " + mathLibrary() + " has no NP_GetMIMEDescription",
          kUserKey + "e/Folder: Path " + folder.path().string() + " is not a file"}},
        {"only keys to skip",
         {{Root::CurrentUser, "a/Math", mathLibrary()}, {Root::LocalMachine, "b/Gone", "/absent/np.so"}},
         "",
         "(looked at HKEY_CURRENT_USER\\Software\\MozillaPlugins (1 key), "
         "HKEY_LOCAL_MACHINE\\Software\\MozillaPlugins (1 key))",
         {kUserKey + "a/Math: Path", kMachineKey + "b/Gone: Path /absent/np.so does not exist"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(folder.file("user.reg"));
        std::filesystem::remove(folder.file("machine.reg"));
        for (const Key& key : c.keys)
            registerKey(key.root, key.name, key.path);

        const PluginChoice choice = findRegisteredPlugin(registry);
        EXPECT_EQ(choice.path, c.found);
        if (c.found.empty())
            EXPECT_NE(choice.failure.find(c.origin), std::string::npos) << choice.failure;
        else
            EXPECT_EQ(choice.origin, c.origin);
        EXPECT_EQ(choice.skipped.size(), c.skipped.size());
        for (std::size_t i = 0; i < std::min(choice.skipped.size(), c.skipped.size()); ++i)
            EXPECT_EQ(choice.skipped[i].rfind(c.skipped[i], 0), 0u) << choice.skipped[i];
    }
}

TEST_F(PluginLocator, ADamagedStoreIsNamedAndTheOtherOneStillRead)
{
    registerKey(Root::LocalMachine, "ombrel.com/Veltra", plugin);
    folder.write("user.reg", "veltra-registry 1\nnonsense\n");
    const PluginChoice choice = findRegisteredPlugin(registry);
    EXPECT_EQ(choice.path, plugin);
    ASSERT_EQ(choice.skipped.size(), 1u);
    EXPECT_NE(choice.skipped[0].find("user.reg:2"), std::string::npos) << choice.skipped[0];
}

TEST_F(PluginLocator, OrderIsTheGivenLibraryThenTheBuildsThenTheRegistry)
{
    registerKey(Root::CurrentUser, "ombrel.com/Veltra", plugin);
    const std::string absent = folder.file("lib/npveltra.so");
    const struct
    {
        std::string given, build, path, origin;
    } cases[] = {
        {"/given/np.so", testPlugin, "/given/np.so", "--plugin"}, // taken as it is, checked when loaded
        {"", testPlugin, testPlugin, "the build"},
        {"", absent, plugin, kUserKey + "ombrel.com/Veltra"},
    };
    for (const auto& c : cases)
    {
        const PluginChoice choice = locatePlugin(c.given, c.build, registry);
        EXPECT_EQ(choice.path, c.path) << c.origin;
        EXPECT_EQ(choice.origin, c.origin);
    }

    ASSERT_TRUE(registry.deleteTree(Root::CurrentUser, kMozillaPluginsKey).ok());
    const PluginChoice none = locatePlugin("", absent, registry);
    EXPECT_TRUE(none.path.empty());
    EXPECT_EQ(none.failure.rfind("no plug-in library: --plugin not given, the build's " + absent + " is absent", 0), 0u)
        << none.failure;
}

TEST_F(PluginLocator, DllInstallRegistersThePathTheLocatorThenFinds)
{
    // A path with a detour: what gets registered is the normalised absolute path.
    const std::string detour = veltra::test::builtLibraryFolder() + "/../lib/" + VELTRA_PLUGIN_LIBRARY;
    const PluginRegistration registered = installPluginLibrary(detour, true);
    ASSERT_TRUE(registered.called);
    EXPECT_EQ(registered.code, 0);
    ASSERT_EQ(registered.lines.size(), 2u);
    EXPECT_EQ(registered.lines[0], "DllInstall(1, \"user\") on " + plugin + ": 0x00000000 (S_OK)");
    EXPECT_EQ(registered.lines[1], "registered " + kUserKey + "ombrel.com/Veltra with Path " + plugin);
    EXPECT_EQ(findRegisteredPlugin(registry).path, plugin);

    const PluginRegistration removed = installPluginLibrary(plugin, false);
    EXPECT_EQ(removed.code, 0);
    EXPECT_TRUE(mentions(removed.lines, "removed " + kUserKey + "ombrel.com/Veltra (its Path was " + plugin + ")"));
    EXPECT_FALSE(registry.openKey(Root::CurrentUser, std::string(kMozillaPluginsKey) + "\\ombrel.com/Veltra").ok());
    EXPECT_TRUE(findRegisteredPlugin(registry).path.empty());

    const PluginRegistration again = installPluginLibrary(plugin, false);
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(mentions(again.lines, "nothing under " + kUserKey.substr(0, kUserKey.size() - 1) + " was removed"));
}

TEST_F(PluginLocator, DllInstallFailuresSayWhy)
{
    const PluginRegistration noExport = installPluginLibrary(mathLibrary(), true);
    EXPECT_FALSE(noExport.called);
    EXPECT_TRUE(mentions(noExport.lines, "The library has no DllInstall: " + mathLibrary()));
    const PluginRegistration absent = installPluginLibrary("/absent/npveltra.so", true);
    EXPECT_FALSE(absent.called);
    EXPECT_TRUE(mentions(absent.lines, "Cannot open plug-in /absent/npveltra.so"));

    // A damaged user store: the library's script cannot be applied, and nothing was registered.
    const std::string damaged = "veltra-registry 1\nnonsense\n";
    folder.write("user.reg", damaged);
    const PluginRegistration refused = installPluginLibrary(plugin, true);
    EXPECT_TRUE(refused.called);
    EXPECT_NE(refused.code, 0);
}

using veltra::test::HostRun;

// The host program as a copy in a folder of its own, so that the build's library beside it is absent and the
// registry is all it can find the plug-in by. A hard link keeps /proc/self/exe in that folder without copying.
class PluginLocatorHost : public PluginLocator
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(folder.path() / "bin");
        std::error_code error;
        std::filesystem::create_hard_link(veltra::test::builtProgram(VELTRA_HOST_PROGRAM), host, error);
        if (error)
            std::filesystem::copy_file(veltra::test::builtProgram(VELTRA_HOST_PROGRAM), host);
    }

    HostRun run(const std::string& arguments) const { return veltra::test::runHostProgram(host, arguments); }

    const std::string host = folder.file("bin/veltra-host");
};

TEST_F(PluginLocatorHost, RegistersFindsAndUnregistersThePlugin)
{
    const std::string key = kUserKey + "ombrel.com/Veltra";
    const struct
    {
        std::string arguments;
        int status;
        std::vector<std::string> output; // parts of it, in order
    } steps[] = {
        {"--plugin-info",
         1,
         {"no plug-in library: --plugin not given, the build's " + folder.file("lib/npveltra.so") + " is absent",
          "HKEY_CURRENT_USER\\Software\\MozillaPlugins (absent)"}},
        {"--register-plugin --plugin '" + plugin + "'",
         0,
         {"DllInstall(1, \"user\") on " + plugin + ": 0x00000000", "registered " + key + " with Path " + plugin}},
        {"--plugin-info",
         0,
         {"plug-in " + plugin + ", registered under " + key, "MIME description: application/x-veltra::"}},
        {"--unregister-plugin", 0, {"DllInstall(0, \"user\")", "removed " + key}},
        {"--plugin-info", 1, {"HKEY_CURRENT_USER\\Software\\MozillaPlugins (0 keys)"}},
        {"--register-plugin --plugin '" + mathLibrary() + "'", 1, {"The library has no DllInstall"}},
        {"--register-plugin --unregister-plugin", 2, {"exclude each other"}},
    };
    for (const auto& step : steps)
    {
        const HostRun result = run(step.arguments);
        EXPECT_EQ(result.status, step.status) << step.arguments << "\n" << result.output;
        std::size_t at = 0;
        for (const std::string& part : step.output)
        {
            at = result.output.find(part, at);
            EXPECT_NE(at, std::string::npos) << step.arguments << ": no \"" << part << "\" in\n" << result.output;
            if (at == std::string::npos)
                break;
        }
    }
}

} // namespace
