// Ahead of the harness, whose X11 headers define Status as a macro.
#include "com/ComServer.h"
#include "com/RegistrationScript.h"
#include "com/ThreadLocale.h"

#include "BuildOutputs.h"
#include "PluginHarness.h"
#include "RegistryStores.h"
#include "ScopedEnv.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace FB::Com;
using namespace FB::registry;
using veltra::test::dumpStores;
using veltra::test::ScopedEnv;
using veltra::test::seedOtherPrograms;

namespace {

const std::string kModule = "/opt/veltra/npveltra.so";
const std::string kClassKey = "CLSID\\{c7e7969a-0ac9-50ab-9517-08defcd94162}";

/// The application's side of a failed registration: what it was asked and under which thread locale.
class HookFactory : public FB::FactoryBase
{
public:
    FB::PluginCorePtr createPlugin(const std::string&) override { return nullptr; }
    std::int32_t updateRegistry(bool install) override
    {
        calls.push_back(install);
        locales.push_back(threadLocale());
        ownLocale.push_back(uselocale(static_cast<locale_t>(nullptr)) != LC_GLOBAL_LOCALE);
        return answer ? *answer : FactoryBase::updateRegistry(install);
    }
    std::vector<bool> calls;
    std::vector<std::uint32_t> locales;
    std::vector<bool> ownLocale;   // the thread ran under a locale of its own, not the process's
    std::optional<HResult> answer; // unset: the framework's default
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Both stores in a temporary folder, named to the exports through the environment, with keys of other programs
/// in them as on a used system.
class ComRegistration : public ::testing::Test
{
protected:
    void SetUp() override { seedOtherPrograms(_registry); }

    void setCaller(const std::string& executable) { _caller.emplace("VELTRA_CALLER_EXECUTABLE", executable); }

    std::string dump() { return dumpStores(_registry); }

    /// The stores as the script engine leaves them after `action` in `scope`, run on a copy of the current ones.
    std::string expectedAfter(ScriptAction action, ScriptScope scope, const std::string& module = kModule)
    {
        veltra::test::TempDir copyDir;
        Registry copy(StoreLocations{copyDir.file("user"), copyDir.file("machine")});
        for (const char* name : {"user", "machine"})
        {
            if (std::filesystem::exists(_dir.file(std::string(name) + "/registry")))
                std::filesystem::copy_file(_dir.file(std::string(name) + "/registry"), copyDir.file(name));
        }
        EXPECT_TRUE(
            runRegistryScript(copy, registrationScript(), registrationSubstitutions(module), action, scope).ok());
        return dumpStores(copy);
    }

    veltra::test::TempDir _dir;
    ScopedEnv _userStore{"VELTRA_REGISTRY_USER", _dir.file("user/registry")};
    ScopedEnv _machineStore{"VELTRA_REGISTRY_MACHINE", _dir.file("machine/registry")};
    std::optional<ScopedEnv> _caller{std::in_place, "VELTRA_CALLER_EXECUTABLE", std::nullopt};
    Registry _registry{StoreLocations{_dir.file("user/registry"), _dir.file("machine/registry")}};
    std::shared_ptr<HookFactory> _factory = std::make_shared<HookFactory>();
    ComServer _server{[this] { return _factory; }, kModule};
};

TEST_F(ComRegistration, TheCallingProgramDecidesBetweenUserAndMachine)
{
    struct Case
    {
        const char* caller;
        ScriptScope scope;
    };
    const Case cases[] = {
        {"/usr/bin/regsvr", ScriptScope::PerUser},
        {"/opt/wix/heat.exe", ScriptScope::Machine},
        {"/opt/wix/HEAT.EXE", ScriptScope::Machine},
        {"/opt/wix/heat.exe.bak", ScriptScope::PerUser},
        {"", ScriptScope::PerUser}, // unset: this test program, read from /proc
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.caller);
        if (*c.caller)
            setCaller(c.caller);
        else
            _caller.emplace("VELTRA_CALLER_EXECUTABLE", std::nullopt);
        const std::string before = dump();
        const std::string machineBefore = readFile(_dir.file("machine/registry"));
        const std::string registered = expectedAfter(ScriptAction::Register, c.scope);
        ASSERT_EQ(_server.registerServer(), S_OK);
        EXPECT_EQ(dump(), registered);
        if (c.scope == ScriptScope::PerUser)
        {
            EXPECT_EQ(readFile(_dir.file("machine/registry")), machineBefore); // not even rewritten
        }
        std::string text;
        const Root classes = c.scope == ScriptScope::PerUser ? Root::CurrentUser : Root::ClassesRoot;
        const std::string prefix = c.scope == ScriptScope::PerUser ? "Software\\Classes\\" : "";
        ASSERT_TRUE(_registry.queryString(classes, prefix + kClassKey + "\\InprocServer32", "", text).ok());
        EXPECT_EQ(text, kModule);
        // The type library is registered where the classes went, as the script's TypeLib key.
        ASSERT_TRUE(_registry.queryString(classes, prefix + kClassKey + "\\TypeLib", "", text).ok());
        EXPECT_EQ(text, typeLibraryId);

        ASSERT_EQ(_server.unregisterServer(), S_OK);
        EXPECT_EQ(dump(), before);
    }
    EXPECT_TRUE(_factory->calls.empty());
}

TEST_F(ComRegistration, TwoProcessesRegisteringAtOnceOnlyEverSeeWholeRegistrations)
{
    const std::string before = dump();
    const std::string registered = expectedAfter(ScriptAction::Register, ScriptScope::PerUser);
    // One process registers over and over while the other alternates; each checks every state it reads.
    std::vector<pid_t> children;
    for (int process = 0; process < 2; ++process)
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            Registry mine(StoreLocations{_dir.file("user/registry"), _dir.file("machine/registry")});
            int failures = 0;
            for (int round = 0; round < 20; ++round)
            {
                const bool remove = process == 1 && round % 2 == 1;
                failures += (remove ? _server.unregisterServer(ScriptScope::PerUser)
                                    : _server.registerServer(ScriptScope::PerUser)) == S_OK
                                ? 0
                                : 1;
                const std::string now = dumpStores(mine);
                failures += now == registered || now == before ? 0 : 1;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children)
    {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a process failed or saw half a registration";
    }
    const std::string after = dump();
    EXPECT_TRUE(after == registered || after == before);
    ASSERT_EQ(_server.registerServer(ScriptScope::PerUser), S_OK);
    EXPECT_EQ(dump(), registered);
    ASSERT_EQ(_server.unregisterServer(ScriptScope::PerUser), S_OK);
    EXPECT_EQ(dump(), before);
}

TEST_F(ComRegistration, DllInstallCommandLinesChooseTheScope)
{
    struct Case
    {
        const char* caller;
        const char* commandLine;
        ScriptScope scope;
    };
    const Case cases[] = {
        {"/opt/wix/heat.exe", "user", ScriptScope::PerUser},  {"/opt/wix/heat.exe", "USER", ScriptScope::PerUser},
        {"/opt/wix/heat.exe", "uSeR", ScriptScope::PerUser},  {"/opt/wix/heat.exe", "users", ScriptScope::Machine},
        {"/opt/wix/heat.exe", "use", ScriptScope::Machine},   {"/opt/wix/heat.exe", "", ScriptScope::Machine},
        {"/opt/wix/heat.exe", nullptr, ScriptScope::Machine}, {"/usr/bin/regsvr", nullptr, ScriptScope::PerUser},
        {"/usr/bin/regsvr", "machine", ScriptScope::PerUser},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.caller) + " " + (c.commandLine ? c.commandLine : "(null)"));
        setCaller(c.caller);
        const std::string before = dump();
        const std::string registered = expectedAfter(ScriptAction::Register, c.scope);
        ASSERT_EQ(_server.install(true, c.commandLine), S_OK);
        EXPECT_EQ(dump(), registered);
        ASSERT_EQ(_server.install(false, c.commandLine), S_OK);
        EXPECT_EQ(dump(), before);
    }
}

// A store that cannot be written leaves everything as it was; the application's hook answers for the export, and
// an installation that failed is rolled back by an unregistration (which fails here too, and consults the hook).
TEST_F(ComRegistration, AFailedScriptAsksTheFactoryAndRollsBackTheInstallation)
{
    struct Case
    {
        const char* label;
        const char* caller;
        const char* damagedStore; // written with bad content; null: the user store's folder is a file
        std::optional<HResult> answer;
        HResult expected;
    };
    const HResult accessDenied = static_cast<HResult>(0x80070005u);
    const Case cases[] = {
        {"damaged user store, default hook", "/usr/bin/regsvr", "user/registry", std::nullopt, E_FAIL},
        {"damaged machine store, default hook", "/opt/wix/heat.exe", "machine/registry", std::nullopt, E_FAIL},
        {"unwritable user store", "/usr/bin/regsvr", nullptr, accessDenied, accessDenied},
        {"hook registers itself", "/usr/bin/regsvr", "user/registry", S_OK, S_OK},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        veltra::test::TempDir stores;
        std::string userPath = stores.file("user/registry");
        if (c.damagedStore)
            stores.write(c.damagedStore, "veltra-registry 1\nkey\nkey \"A\n");
        else
            userPath = stores.write("user", "a file where the store's folder belongs") + "/registry";
        ScopedEnv user("VELTRA_REGISTRY_USER", userPath);
        ScopedEnv machine("VELTRA_REGISTRY_MACHINE", stores.file("machine/registry"));
        setCaller(c.caller);
        const std::string userBefore = readFile(userPath);
        const std::string machineBefore = readFile(stores.file("machine/registry"));
        _factory->answer = c.answer;
        _factory->calls.clear();

        EXPECT_EQ(_server.registerServer(), c.expected);
        EXPECT_EQ(_server.unregisterServer(), c.expected);
        EXPECT_EQ(_factory->calls, (std::vector<bool>{true, false}));

        _factory->calls.clear();
        EXPECT_EQ(_server.install(true, nullptr), c.expected);
        const std::vector<bool> rolledBack = {true, false};
        EXPECT_EQ(_factory->calls, failed(c.expected) ? rolledBack : std::vector<bool>{true});
        EXPECT_EQ(readFile(userPath), userBefore);
        EXPECT_EQ(readFile(stores.file("machine/registry")), machineBefore);
    }
}

TEST_F(ComRegistration, RegistrationRunsUnderTheNeutralThreadLocaleAndRestoresIt)
{
    _dir.write("user/registry", "damaged");
    setThreadLocale(1033);
    const locale_t before = uselocale(static_cast<locale_t>(nullptr));
    EXPECT_EQ(_server.registerServer(), E_FAIL);
    EXPECT_EQ(_server.unregisterServer(), E_FAIL);
    EXPECT_EQ(_factory->locales, (std::vector<std::uint32_t>{kNeutralLocale, kNeutralLocale}));
    EXPECT_EQ(threadLocale(), 1033u);
    EXPECT_EQ(_factory->ownLocale, (std::vector<bool>{true, true}));
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), before);
    setThreadLocale(0x0400);
}

// The exports of a library built like the real one, opened as a registration tool opens it.
TEST_F(ComRegistration, TheLibrarysExportsRegisterItsOwnFilePerUser)
{
    using Export = HResult (*)();
    const std::string path = veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY);
    veltra::test::PluginLibrary library(path);
    const auto registerServer = library.symbol<Export>("DllRegisterServer");
    const auto unregisterServer = library.symbol<Export>("DllUnregisterServer");
    const auto install = library.symbol<HResult (*)(int, const char*)>("DllInstall");

    const std::string before = dump();
    const std::string registered = expectedAfter(ScriptAction::Register, ScriptScope::PerUser, path);
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(dump(), registered);
    std::string text;
    ASSERT_TRUE(
        _registry.queryString(Root::CurrentUser, "Software\\MozillaPlugins\\ombrel.com/Veltra", "Path", text).ok());
    EXPECT_EQ(text, path);
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(dump(), before);

    setCaller("/opt/wix/heat.exe");
    ASSERT_EQ(install(1, "User"), S_OK);
    EXPECT_EQ(dump(), registered);
    ASSERT_EQ(install(0, "User"), S_OK);
    EXPECT_EQ(dump(), before);
}

} // namespace
