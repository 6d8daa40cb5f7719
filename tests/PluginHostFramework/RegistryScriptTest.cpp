#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "RegistryStores.h"
#include "TempDir.h"
#include "com/RegistrationScript.h"
#include "registry/RegistryScript.h"

using namespace FB::registry;
using veltra::test::dumpStores;
using veltra::test::seedOtherPrograms;

namespace {

// The script the plug-in library registers itself with: the library's own copy.
const char* const pluginScript = FB::Com::registrationScript();

const ScriptSubstitutions substitutions = {
    {"MODULE", "/opt/veltra/npveltra.so"},
    {"APPID", "{d1e2f3a4-0000-4000-8000-000000000001}"},
    {"LIBID", "{d1e2f3a4-0000-4000-8000-000000000002}"},
    {"THREADING", "Apartment"},
    {"PLUGINID", "ombrel.com/Veltra"},
};

const std::string clsid = "{c7e7969a-0ac9-50ab-9517-08defcd94162}";

// What the HKCR part writes, relative to where the classes go, as "key | value = data" lines.
std::set<std::string> classesLines(const std::string& at)
{
    const std::string c = at + "CLSID\\" + clsid;
    return {
        at + "AppID\\{d1e2f3a4-0000-4000-8000-000000000001} | (default) = s:PluginHostWin",
        at + "AppID\\npveltra.dll | AppID = s:{d1e2f3a4-0000-4000-8000-000000000001}",
        at + "Ombrel.Veltra.1 | (default) = s:Ombrel webplugin",
        at + "Ombrel.Veltra.1\\CLSID | (default) = s:" + clsid,
        at + "Ombrel.Veltra | (default) = s:Ombrel webplugin",
        at + "Ombrel.Veltra\\CLSID | (default) = s:" + clsid,
        at + "Ombrel.Veltra\\CurVer | (default) = s:Ombrel.Veltra.1",
        c + " | (default) = s:Ombrel webplugin",
        c + " | AppID = s:{d1e2f3a4-0000-4000-8000-000000000001}",
        c + "\\ProgID | (default) = s:Ombrel.Veltra.1",
        c + "\\VersionIndependentProgID | (default) = s:Ombrel.Veltra",
        c + "\\Programmable",
        c + "\\InprocServer32 | (default) = s:/opt/veltra/npveltra.so",
        c + "\\InprocServer32 | ThreadingModel = s:Apartment",
        c + "\\Control",
        c + "\\MiscStatus | (default) = s:0",
        c + "\\MiscStatus\\1 | (default) = s:131473",
        c + "\\TypeLib | (default) = s:{d1e2f3a4-0000-4000-8000-000000000002}",
        c + "\\Version | (default) = s:1",
        at + "MIME\\Database\\Content Type\\application/x-veltra | (default) = s:Ombrel webplugin",
        at + "MIME\\Database\\Content Type\\application/x-veltra | CLSID = s:" + clsid,
        at + "MIME\\Database\\Content Type\\application/x-veltra | Extension = s:",
    };
}

std::set<std::string> userLines()
{
    const std::string ext = "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\";
    return {
        ext + "PreApproved\\" + clsid,
        ext + "Stats\\" + clsid + "\\iexplore | Count = d:0",
        ext + "Stats\\" + clsid + "\\iexplore\\AllowedDomains\\*",
        "Software\\MozillaPlugins\\ombrel.com/Veltra | Path = s:/opt/veltra/npveltra.so",
    };
}

/// Registries in temporary folders; the baseline holds what a system has before any plug-in: the parent keys the
/// script never removes, with content of other programs in them.
class RegistryScriptFixture : public ::testing::Test
{
protected:
    void SetUp() override { seedOtherPrograms(_registry); }

    Status run(ScriptAction action, ScriptScope scope, std::size_t* changes = nullptr)
    {
        return runRegistryScript(_registry, pluginScript, substitutions, action, scope, changes);
    }

    std::string dump() { return dumpStores(_registry); }

    /// Every key of a store that holds no subkeys or any values, as lines like the expected ones above.
    std::set<std::string> lines(Store store)
    {
        std::set<std::string> found;
        const Root root = store == Store::User ? Root::CurrentUser : Root::LocalMachine;
        EXPECT_TRUE(_registry
                        .read({store},
                              [&](const RegistryView& view) {
                                  collect(view, root, {}, found);
                                  return Status::success();
                              })
                        .ok());
        return found;
    }

    static void collect(const RegistryView& view, Root root, const KeyPath& path, std::set<std::string>& found)
    {
        std::vector<std::string> subkeys;
        std::vector<RegistryValue> values;
        ASSERT_TRUE(view.enumSubkeys(root, path, subkeys).ok());
        ASSERT_TRUE(view.enumValues(root, path, values).ok());
        const std::string name = joinKeyPath(path);
        if (subkeys.empty() && values.empty() && !path.empty())
            found.insert(name);
        for (const RegistryValue& value : values)
            found.insert(name + " | " + (value.name.empty() ? "(default)" : value.name) + " = " +
                         (value.type == ValueType::String ? "s:" + value.text : "d:" + std::to_string(value.number)));
        for (const std::string& subkey : subkeys)
        {
            KeyPath deeper = path;
            deeper.push_back(subkey);
            collect(view, root, deeper, found);
        }
    }

    static std::set<std::string> merged(std::set<std::string> a, const std::set<std::string>& b)
    {
        a.insert(b.begin(), b.end());
        return a;
    }

    veltra::test::TempDir _dir;
    Registry _registry{StoreLocations{_dir.file("user/registry"), _dir.file("machine/registry")}};
};

const std::set<std::string> baselineUser = {
    "Software\\Classes\\AppID",
    "Software\\Classes\\CLSID\\{other} | (default) = s:Other program",
    "Software\\Classes\\MIME\\Database\\Content Type",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats",
    "Software\\MozillaPlugins\\x",
};
const std::set<std::string> baselineMachine = {
    "Software\\Classes\\AppID",
    "Software\\Classes\\CLSID",
    "Software\\Classes\\MIME\\Database\\Content Type\\text/html",
};

TEST_F(RegistryScriptFixture, PerUserRegistrationWritesExactlyTheScriptsKeys)
{
    ASSERT_EQ(lines(Store::User), baselineUser);
    const std::string machineBefore = dump();
    std::size_t changes = 0;
    const Status status = run(ScriptAction::Register, ScriptScope::PerUser, &changes);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_GT(changes, 0u);

    std::set<std::string> expected = merged(classesLines("Software\\Classes\\"), userLines());
    expected.insert("Software\\Classes\\CLSID\\{other} | (default) = s:Other program");
    expected.insert("Software\\MozillaPlugins\\x");
    EXPECT_EQ(lines(Store::User), expected);
    EXPECT_EQ(lines(Store::Machine), baselineMachine);
}

TEST_F(RegistryScriptFixture, MachineRegistrationPutsTheClassesInTheMachineStore)
{
    const Status status = run(ScriptAction::Register, ScriptScope::Machine);
    ASSERT_TRUE(status.ok()) << status.message;
    std::set<std::string> machine = classesLines("Software\\Classes\\");
    machine.insert("Software\\Classes\\MIME\\Database\\Content Type\\text/html");
    EXPECT_EQ(lines(Store::Machine), machine);
    std::set<std::string> user = merged(userLines(), baselineUser);
    user.erase("Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved");
    user.erase("Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats");
    EXPECT_EQ(lines(Store::User), user);
    std::string text;
    ASSERT_TRUE(
        _registry.queryString(Root::ClassesRoot, "clsid\\" + clsid + "\\InprocServer32", "threadingmodel", text).ok());
    EXPECT_EQ(text, "Apartment");
}

TEST_F(RegistryScriptFixture, UnregistrationRestoresTheStoresExactly)
{
    for (ScriptScope scope : {ScriptScope::PerUser, ScriptScope::Machine})
    {
        SCOPED_TRACE(scope == ScriptScope::PerUser ? "per user" : "machine");
        const std::string before = dump();
        ASSERT_TRUE(run(ScriptAction::Register, scope).ok());
        ASSERT_NE(dump(), before);
        std::size_t changes = 0;
        const Status status = run(ScriptAction::Unregister, scope, &changes);
        ASSERT_TRUE(status.ok()) << status.message;
        EXPECT_GT(changes, 0u);
        EXPECT_EQ(dump(), before);
    }
}

TEST_F(RegistryScriptFixture, RegisteringAgainReplacesTheForceRemovedKeys)
{
    ASSERT_TRUE(run(ScriptAction::Register, ScriptScope::PerUser).ok());
    const std::set<std::string> once = lines(Store::User);
    const std::string classKey = "Software\\Classes\\CLSID\\" + clsid;
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, classKey + "\\Stale").ok());
    ASSERT_TRUE(_registry.setString(Root::CurrentUser, classKey + "\\InprocServer32", "", "/old/npveltra.so").ok());

    std::size_t changes = 0;
    ASSERT_TRUE(run(ScriptAction::Register, ScriptScope::PerUser, &changes).ok());
    EXPECT_EQ(lines(Store::User), once);

    ASSERT_TRUE(run(ScriptAction::Unregister, ScriptScope::PerUser).ok());
    EXPECT_EQ(lines(Store::User), baselineUser);
}

TEST(RegistryScript, KeysMarkedNoRemoveOutliveTheUnregistrationThatFollowsTheirCreation)
{
    veltra::test::TempDir dir;
    Registry registry(StoreLocations{dir.file("u/registry"), dir.file("m/registry")});
    const char* script = "HKCU { NoRemove Software { NoRemove Vendor { Product = s 'x' { val N = d '1' } } } }";
    ASSERT_TRUE(runRegistryScript(registry, script, {}, ScriptAction::Register, ScriptScope::PerUser).ok());
    ASSERT_TRUE(runRegistryScript(registry, script, {}, ScriptAction::Unregister, ScriptScope::PerUser).ok());
    std::vector<std::string> names;
    ASSERT_TRUE(registry.enumSubkeys(Root::CurrentUser, "Software\\Vendor", names).ok());
    EXPECT_TRUE(names.empty());
    // Unregistering again finds nothing of its own left: not an error.
    std::size_t changes = 1;
    EXPECT_TRUE(runRegistryScript(registry, script, {}, ScriptAction::Unregister, ScriptScope::PerUser, &changes).ok());
    EXPECT_EQ(changes, 0u);
}

TEST_F(RegistryScriptFixture, UnregisteringWhatWasNeverRegisteredChangesNothing)
{
    const std::string before = dump();
    const auto userTime = std::filesystem::last_write_time(_dir.file("user/registry"));
    for (ScriptScope scope : {ScriptScope::PerUser, ScriptScope::Machine})
    {
        std::size_t changes = 99;
        const Status status = run(ScriptAction::Unregister, scope, &changes);
        EXPECT_TRUE(status.ok()) << status.message;
        EXPECT_EQ(changes, 0u);
    }
    EXPECT_EQ(dump(), before);
    EXPECT_EQ(std::filesystem::last_write_time(_dir.file("user/registry")), userTime);

    veltra::test::TempDir empty;
    Registry fresh(StoreLocations{empty.file("u/registry"), empty.file("m/registry")});
    ASSERT_TRUE(
        runRegistryScript(fresh, pluginScript, substitutions, ScriptAction::Unregister, ScriptScope::Machine).ok());
    EXPECT_FALSE(std::filesystem::exists(empty.file("u/registry")));
    EXPECT_FALSE(std::filesystem::exists(empty.file("m/registry")));
}

TEST_F(RegistryScriptFixture, UnregistrationKeepsWhatOthersAddedToTheScriptsKeys)
{
    ASSERT_TRUE(run(ScriptAction::Register, ScriptScope::PerUser).ok());
    const std::string plugin = "Software\\MozillaPlugins\\ombrel.com/Veltra";
    ASSERT_TRUE(_registry.setString(Root::CurrentUser, plugin, "Description", "added by hand").ok());
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "Software\\Classes\\AppID\\npveltra.dll\\More").ok());
    ASSERT_TRUE(run(ScriptAction::Unregister, ScriptScope::PerUser).ok());

    std::set<std::string> expected = baselineUser;
    expected.insert(plugin + " | Description = s:added by hand");
    expected.insert("Software\\Classes\\AppID\\npveltra.dll\\More");
    expected.erase("Software\\Classes\\AppID");
    EXPECT_EQ(lines(Store::User), expected);
}

struct SyntaxCase
{
    const char* label;
    const char* script;
    Result result;
    int line;
    int column;
    const char* reason;
};

TEST_F(RegistryScriptFixture, ScriptErrorsNameTheirPlaceAndChangeNothing)
{
    const std::vector<SyntaxCase> cases = {
        {"unknown root", "HKXX\n{\n}\n", Result::ScriptSyntax, 1, 1, "expected a root key"},
        {"no brace", "HKCU\n  Software\n", Result::ScriptSyntax, 2, 3, "expected '{'"},
        {"unclosed block", "HKCU\n{\n  A\n  {\n", Result::ScriptSyntax, 5, 1, "missing '}'"},
        {"unclosed quote", "HKCU\n{\n  'Abc = s 'x'\n}\n", Result::ScriptSyntax, 3, 14, "not closed"},
        {"value at the root", "HKCU\n{\n  val X = s 'y'\n}\n", Result::ScriptSyntax, 3, 3, "needs a key"},
        {"bad type", "HKCU\n{\n  A = b '01'\n}\n", Result::ScriptSyntax, 3, 7, "unsupported value type"},
        {"bad dword", "HKCU\n{\n  A { val N = d '12x' }\n}\n", Result::ScriptSyntax, 3, 17, "not a dword"},
        {"dword too large", "HKCU\n{\n  A { val N = d '4294967296' }\n}\n", Result::ScriptSyntax, 3, 17, "larger"},
        {"dot dot key", "HKCU\n{\n  A\n  {\n    '..'\n  }\n}\n", Result::ScriptSyntax, 5, 5, "not allowed"},
        {"backslash key", "HKCU\n{\n  'A\\B'\n}\n", Result::ScriptSyntax, 3, 3, "contains '\\'"},
        {"delete with value", "HKCU\n{\n  Delete A = s 'x'\n}\n", Result::ScriptSyntax, 3, 12, "takes no value"},
        {"missing data", "HKCU\n{\n  A = s }\n", Result::ScriptSyntax, 3, 9, "expected the value's data"},
        {"control character", "HKCU\n{\n  A\x01\n}\n", Result::ScriptSyntax, 3, 4, "control character"},
        {"unknown name", "HKCU\n{\n  A = s 'x%NOPE%'\n}\n", Result::UnknownSubstitution, 3, 11, "%NOPE%"},
        {"unclosed percent", "HKCU\n{\n  A = s '%MODULE'\n}\n", Result::ScriptSyntax, 3, 10, "closing '%'"},
    };
    ASSERT_TRUE(run(ScriptAction::Register, ScriptScope::PerUser).ok());
    const std::string before = dump();
    for (const SyntaxCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        // A valid part ahead of the error must not be applied either.
        const std::string text = std::string("HKCU { Written = s 'y' }\n") + c.script;
        RegistryScript script;
        ScriptPosition where;
        const Status parsed = parseRegistryScript(text, substitutions, script, &where);
        EXPECT_EQ(parsed.result, c.result) << parsed.message;
        EXPECT_EQ(where.line, c.line + 1);
        EXPECT_EQ(where.column, c.column);
        EXPECT_NE(parsed.message.find(c.reason), std::string::npos) << parsed.message;
        EXPECT_EQ(parsed.message.rfind("line " + std::to_string(c.line + 1) + ", column ", 0), 0u) << parsed.message;
        for (ScriptAction action : {ScriptAction::Register, ScriptAction::Unregister})
            EXPECT_EQ(runRegistryScript(_registry, text, substitutions, action, ScriptScope::PerUser).result, c.result);
        EXPECT_EQ(dump(), before);
    }
}

TEST(RegistryScript, MangledScriptsParseOrFailWithAPlaceNeverCrash)
{
    const std::string good = pluginScript;
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round)
    {
        std::string text = good;
        for (int e = 0; e < 3; ++e)
        {
            const std::size_t at = random() % text.size();
            if (random() % 2)
                text[at] = "{}='%\\\n x\0"[random() % 10];
            else
                text.erase(at, 1 + random() % 20);
        }
        RegistryScript script;
        ScriptPosition where;
        const Status status = parseRegistryScript(text, substitutions, script, &where);
        if (!status.ok())
        {
            EXPECT_TRUE(status.result == Result::ScriptSyntax || status.result == Result::UnknownSubstitution);
            EXPECT_GE(where.line, 1);
            EXPECT_GE(where.column, 1);
        }
    }
}

TEST_F(RegistryScriptFixture, NestingBeyondTheLimitIsAnErrorNotACrash)
{
    std::string text = "HKCU\n{\n";
    for (int i = 0; i < 10000; ++i)
        text += "k { ";
    const Status status = runRegistryScript(_registry, text, {}, ScriptAction::Register, ScriptScope::PerUser);
    EXPECT_EQ(status.result, Result::ScriptSyntax);
    EXPECT_NE(status.message.find("nested deeper"), std::string::npos) << status.message;
}

TEST_F(RegistryScriptFixture, SubstitutionsApplyToNamesAndData)
{
    const std::string text = "HKCU\n{\n  '%KEY%' = s '100%% of %WHO%'\n  {\n    val '%KEY%''s' = d '%N%'\n"
                             "    Bare%KEY%Word = s '%%'\n  }\n}\n";
    const ScriptSubstitutions values = {{"KEY", "Plug"}, {"WHO", "it's"}, {"N", "0x10"}};
    ASSERT_TRUE(runRegistryScript(_registry, text, values, ScriptAction::Register, ScriptScope::PerUser).ok());
    std::string data;
    ASSERT_TRUE(_registry.queryString(Root::CurrentUser, "Plug", "", data).ok());
    EXPECT_EQ(data, "100% of it's");
    std::uint32_t number = 0;
    ASSERT_TRUE(_registry.queryDword(Root::CurrentUser, "Plug", "Plug's", number).ok());
    EXPECT_EQ(number, 16u);
    ASSERT_TRUE(_registry.queryString(Root::CurrentUser, "Plug\\BarePlugWord", "", data).ok());
    EXPECT_EQ(data, "%");
}

TEST_F(RegistryScriptFixture, ADamagedStoreStopsTheWholeRegistration)
{
    const std::string before = dump();
    const std::string damaged = "veltra-registry 1\nkey\nkey \"A\n";
    const std::string path = _dir.write("machine/registry", damaged);
    const Status status = run(ScriptAction::Register, ScriptScope::Machine);
    EXPECT_EQ(status.result, Result::StoreDamaged);
    EXPECT_NE(status.message.find(path + ":3:"), std::string::npos) << status.message;
    std::string user;
    ASSERT_TRUE(_registry.dump(Store::User, user).ok());
    EXPECT_NE(before.find(user), std::string::npos); // the user's part was not written either
    EXPECT_EQ(lines(Store::User), baselineUser);
}

} // namespace
