#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "TempDir.h"
#include "registry/Registry.h"
#include "registry/StoreFormat.h"

using namespace FB::registry;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A registry whose two stores live in a temporary folder of the test's own.
class RegistryStore : public ::testing::Test
{
protected:
    StoreLocations locations() const { return {_dir.file("user/registry"), _dir.file("machine/registry")}; }

    veltra::test::TempDir _dir;
    Registry _registry{locations()};
};

TEST_F(RegistryStore, MissingStoreReadsAsEmptyAndMakesNoFiles)
{
    EXPECT_EQ(_registry.openKey(Root::CurrentUser, "Software").result, Result::NotFound);
    std::vector<std::string> names;
    EXPECT_TRUE(_registry.enumSubkeys(Root::LocalMachine, "", names).ok());
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(std::filesystem::is_empty(_dir.path()));
}

struct ValueCase
{
    const char* label;
    const char* path;
    RegistryValue value;
};

TEST_F(RegistryStore, ValuesReadBackAsWrittenThroughEveryRoot)
{
    const std::vector<ValueCase> cases = {
        {"default string", "AppID\\{1}", RegistryValue::string("", "PluginHostWin")},
        {"named string", "Software\\Veltra", RegistryValue::string("Path", "/usr/lib/npveltra.so")},
        {"empty string", "MIME\\x", RegistryValue::string("Extension", "")},
        {"dword zero", "Ext\\Stats", RegistryValue::dword("Count", 0)},
        {"dword max", "Ext\\Stats", RegistryValue::dword("Max", 0xffffffffu)},
        {"awkward text", "A\\B", RegistryValue::string("quote\"and=sign", "line\none\ttab \\ back 'é' \x01")},
    };
    for (Root root : {Root::ClassesRoot, Root::CurrentUser, Root::LocalMachine})
    {
        for (const ValueCase& c : cases)
        {
            SCOPED_TRACE(std::string(rootName(root)) + ": " + c.label);
            ASSERT_TRUE(_registry.createKey(root, c.path).ok());
            if (c.value.type == ValueType::String)
            {
                ASSERT_TRUE(_registry.setString(root, c.path, c.value.name, c.value.text).ok());
                std::string text;
                ASSERT_TRUE(_registry.queryString(root, c.path, c.value.name, text).ok());
                EXPECT_EQ(text, c.value.text);
            }
            else
            {
                ASSERT_TRUE(_registry.setDword(root, c.path, c.value.name, c.value.number).ok());
                std::uint32_t number = 1;
                ASSERT_TRUE(_registry.queryDword(root, c.path, c.value.name, number).ok());
                EXPECT_EQ(number, c.value.number);
            }
        }
    }
    // The classes root is the machine's Software\Classes.
    std::string text;
    ASSERT_TRUE(_registry.queryString(Root::LocalMachine, "Software\\Classes\\AppID\\{1}", "", text).ok());
    EXPECT_EQ(text, "PluginHostWin");
}

TEST_F(RegistryStore, NamesMatchWithoutCaseAndKeepTheirFirstSpelling)
{
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "Software\\MozillaPlugins").ok());
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "SOFTWARE\\mozillaplugins\\b").ok());
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "software\\MozillaPlugins\\A").ok());
    ASSERT_TRUE(_registry.setString(Root::CurrentUser, "software\\mozillaplugins", "Path", "one").ok());
    ASSERT_TRUE(_registry.setString(Root::CurrentUser, "Software\\MozillaPlugins", "PATH", "two").ok());

    std::vector<std::string> names;
    ASSERT_TRUE(_registry.enumSubkeys(Root::CurrentUser, "", names).ok());
    EXPECT_EQ(names, std::vector<std::string>{"Software"});
    ASSERT_TRUE(_registry.enumSubkeys(Root::CurrentUser, "SOFTWARE\\MOZILLAPLUGINS", names).ok());
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b"}));
    std::vector<RegistryValue> values;
    ASSERT_TRUE(_registry.enumValues(Root::CurrentUser, "Software\\MozillaPlugins", values).ok());
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "Path");
    EXPECT_EQ(values[0].text, "two");
}

struct DeleteCase
{
    const char* label;
    std::function<Status(Registry&)> operation;
    Result expected;
    std::vector<std::string> keysLeft; // subkeys of "Top" afterwards
};

TEST_F(RegistryStore, DeletionsFollowTheRegistryRules)
{
    const std::vector<DeleteCase> cases = {
        {"key with subkeys",
         [](Registry& r) { return r.deleteKey(Root::CurrentUser, "Top\\Tree"); },
         Result::KeyHasSubkeys,
         {"Leaf", "Tree"}},
        {"leaf key with values",
         [](Registry& r) { return r.deleteKey(Root::CurrentUser, "Top\\Leaf"); },
         Result::Ok,
         {"Tree"}},
        {"tree", [](Registry& r) { return r.deleteTree(Root::CurrentUser, "Top\\TREE"); }, Result::Ok, {"Leaf"}},
        {"missing key",
         [](Registry& r) { return r.deleteKey(Root::CurrentUser, "Top\\None"); },
         Result::NotFound,
         {"Leaf", "Tree"}},
        {"missing tree",
         [](Registry& r) { return r.deleteTree(Root::CurrentUser, "Top\\None\\Deeper"); },
         Result::NotFound,
         {"Leaf", "Tree"}},
        {"the root",
         [](Registry& r) { return r.deleteTree(Root::CurrentUser, ""); },
         Result::InvalidName,
         {"Leaf", "Tree"}},
        {"value",
         [](Registry& r) { return r.deleteValue(Root::CurrentUser, "Top\\Leaf", "count"); },
         Result::Ok,
         {"Leaf", "Tree"}},
        {"missing value",
         [](Registry& r) { return r.deleteValue(Root::CurrentUser, "Top\\Leaf", "None"); },
         Result::NotFound,
         {"Leaf", "Tree"}},
    };
    for (const DeleteCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(_registry.deleteTree(Root::CurrentUser, "Top").ok() ||
                    _registry.openKey(Root::CurrentUser, "Top").result == Result::NotFound);
        ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "Top\\Tree\\Branch\\Twig").ok());
        ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "Top\\Leaf").ok());
        ASSERT_TRUE(_registry.setDword(Root::CurrentUser, "Top\\Leaf", "Count", 3).ok());

        const Status status = c.operation(_registry);
        EXPECT_EQ(status.result, c.expected) << status.message;
        EXPECT_EQ(status.ok(), status.message.empty()) << status.message;
        std::vector<std::string> names;
        ASSERT_TRUE(_registry.enumSubkeys(Root::CurrentUser, "Top", names).ok());
        EXPECT_EQ(names, c.keysLeft);
    }
}

TEST_F(RegistryStore, BadKeyPathsAreRefusedWithTheirReason)
{
    const std::vector<std::pair<std::string, const char*>> cases = {
        {"\\Software", "empty key name"},
        {"Software\\", "empty key name"},
        {"Software\\\\Classes", "empty key name"},
        {"Software\\.", "'.' is not allowed"},
        {"Software\\..\\Classes", "'..' is not allowed"},
        {std::string("Soft\0ware", 9), "control character"},
        {"Soft\nware", "control character"},
        {"Soft\x7fware", "control character"},
        {std::string(256, 'k'), "longer than 255"},
    };
    for (const auto& [path, reason] : cases)
    {
        SCOPED_TRACE(reason);
        const Status created = _registry.createKey(Root::CurrentUser, path);
        EXPECT_EQ(created.result, Result::InvalidName);
        EXPECT_NE(created.message.find(reason), std::string::npos) << created.message;
        EXPECT_EQ(_registry.setString(Root::LocalMachine, path, "", "x").result, Result::InvalidName);
        std::vector<std::string> names;
        EXPECT_EQ(_registry.enumSubkeys(Root::ClassesRoot, path, names).result, Result::InvalidName);
    }
    EXPECT_TRUE(_registry.createKey(Root::CurrentUser, std::string(255, 'k') + "\\a b.c\\{x}\\ombrel.com/Veltra").ok());
    EXPECT_EQ(_registry.setString(Root::CurrentUser, "", "bad\tname", "x").result, Result::InvalidName);
    EXPECT_EQ(_registry.setString(Root::CurrentUser, "", "n", std::string("a\0b", 3)).result, Result::InvalidData);
    EXPECT_FALSE(std::filesystem::exists(_dir.file("user/registry")) &&
                 readFile(_dir.file("user/registry")).find("bad") != std::string::npos);
}

TEST_F(RegistryStore, QueryingWithTheWrongTypeIsAMismatch)
{
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "K").ok());
    ASSERT_TRUE(_registry.setString(Root::CurrentUser, "K", "Text", "12").ok());
    ASSERT_TRUE(_registry.setDword(Root::CurrentUser, "K", "Number", 12).ok());
    std::uint32_t number = 0;
    std::string text;
    const Status asDword = _registry.queryDword(Root::CurrentUser, "K", "Text", number);
    EXPECT_EQ(asDword.result, Result::TypeMismatch);
    EXPECT_NE(asDword.message.find("is a string, not a dword"), std::string::npos) << asDword.message;
    EXPECT_EQ(_registry.queryString(Root::CurrentUser, "K", "Number", text).result, Result::TypeMismatch);
    EXPECT_EQ(_registry.queryString(Root::CurrentUser, "K", "Missing", text).result, Result::NotFound);
    // Setting a value of the other type replaces it.
    ASSERT_TRUE(_registry.setDword(Root::CurrentUser, "K", "text", 7).ok());
    EXPECT_TRUE(_registry.queryDword(Root::CurrentUser, "K", "Text", number).ok());
    EXPECT_EQ(number, 7u);
}

TEST_F(RegistryStore, StoresSurviveANewRegistryObjectAndWriteNoTemporaryFiles)
{
    ASSERT_TRUE(_registry.createKey(Root::ClassesRoot, "CLSID\\{c7e7969a}\\InprocServer32").ok());
    ASSERT_TRUE(_registry.setString(Root::ClassesRoot, "CLSID\\{c7e7969a}\\InprocServer32", "", "/p/npveltra.so").ok());
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "Odd \"name\" = 'here'").ok());
    ASSERT_TRUE(_registry.setString(Root::CurrentUser, "Odd \"name\" = 'here'", "x\\y", "a\"b\\c\nd\x02").ok());
    ASSERT_TRUE(_registry.setDword(Root::CurrentUser, "Odd \"name\" = 'here'", "", 4000000000u).ok());

    std::string userBefore;
    std::string machineBefore;
    ASSERT_TRUE(_registry.dump(Store::User, userBefore).ok());
    ASSERT_TRUE(_registry.dump(Store::Machine, machineBefore).ok());
    EXPECT_EQ(readFile(_dir.file("user/registry")), userBefore);

    Registry reopened(locations());
    std::string text;
    ASSERT_TRUE(reopened.queryString(Root::CurrentUser, "ODD \"NAME\" = 'HERE'", "X\\Y", text).ok());
    EXPECT_EQ(text, "a\"b\\c\nd\x02");
    std::string userAfter;
    std::string machineAfter;
    ASSERT_TRUE(reopened.dump(Store::User, userAfter).ok());
    ASSERT_TRUE(reopened.dump(Store::Machine, machineAfter).ok());
    EXPECT_EQ(userAfter, userBefore);
    EXPECT_EQ(machineAfter, machineBefore);

    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(_dir.path()))
        if (entry.is_regular_file())
            files.push_back(entry.path().lexically_relative(_dir.path()).string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"machine/registry", "machine/registry.lock", "user/registry",
                                               "user/registry.lock"}));
    EXPECT_EQ(std::filesystem::status(_dir.file("user/registry")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

struct DamageCase
{
    const char* label;
    std::string content;
    int line;
    const char* reason;
};

TEST_F(RegistryStore, ADamagedStoreIsReportedWithItsLineAndLeftAsItIs)
{
    const std::string good = "veltra-registry 1\nkey\nkey \"A\"\n    sz \"\" \"x\"\n    dword \"n\" 5\nend\n";
    const std::vector<DamageCase> cases = {
        {"bad header", "veltra-registry 2\nkey\nend\n", 1, "not a registry store"},
        {"empty", "", 0, "empty file"},
        {"unknown line", "veltra-registry 1\nkey\nkey \"A\"\nbogus \"x\"\nend\n", 4, "unknown line"},
        {"bad escape", "veltra-registry 1\nkey\nkey \"A\\q\"\nend\n", 3, "bad escape"},
        {"unterminated", "veltra-registry 1\nkey\nkey \"A\nend\n", 3, "unterminated"},
        {"bad dword", "veltra-registry 1\nkey\n    dword \"n\" 4294967296\nend\n", 3, "4294967295"},
        {"value first", "veltra-registry 1\n    sz \"\" \"x\"\nend\n", 2, "before the first key"},
        {"cut at a line", good.substr(0, good.find("end")), 5, "no end line"},
        {"cut in a line", good.substr(0, good.find("dword") + 8), 5, "no line end"},
        {"after the end", good + "key \"B\"\n", 7, "after the end"},
        {"dot key", "veltra-registry 1\nkey\nkey \"..\"\nend\n", 3, "not allowed"},
    };
    for (const DamageCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        const std::string path = _dir.write("user/registry", c.content);
        const Status changed = _registry.setString(Root::CurrentUser, "", "v", "w");
        EXPECT_EQ(changed.result, Result::StoreDamaged);
        EXPECT_NE(changed.message.find(path + ":" + std::to_string(c.line) + ":"), std::string::npos)
            << changed.message;
        EXPECT_NE(changed.message.find(c.reason), std::string::npos) << changed.message;
        std::string text;
        EXPECT_EQ(_registry.queryString(Root::CurrentUser, "A", "", text).result, Result::StoreDamaged);
        EXPECT_EQ(readFile(path), c.content);
        // The machine store is another file and stays usable.
        EXPECT_TRUE(_registry.createKey(Root::LocalMachine, "Fine").ok());
    }
    _dir.write("user/registry", good);
    std::uint32_t number = 0;
    EXPECT_TRUE(_registry.queryDword(Root::CurrentUser, "a", "N", number).ok());
    EXPECT_EQ(number, 5u);
}

TEST(RegistryStoreLocations, FollowTheEnvironment)
{
    struct Case
    {
        std::map<std::string, std::string> environment;
        std::string user;
        std::string machine;
    };
    const std::vector<Case> cases = {
        {{{"HOME", "/home/u"}}, "/home/u/.config/veltra/registry", "/etc/veltra/registry"},
        {{{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "/cfg"}}, "/cfg/veltra/registry", "/etc/veltra/registry"},
        {{{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "relative"}},
         "/home/u/.config/veltra/registry",
         "/etc/veltra/registry"},
        {{{"XDG_CONFIG_HOME", "/cfg"}, {"VELTRA_REGISTRY_USER", "/t/u.reg"}, {"VELTRA_REGISTRY_MACHINE", "/t/m.reg"}},
         "/t/u.reg",
         "/t/m.reg"},
        {{}, "", "/etc/veltra/registry"},
    };
    for (const Case& c : cases)
    {
        const StoreLocations found = StoreLocations::resolve([&](const char* name) -> const char* {
            const auto value = c.environment.find(name);
            return value == c.environment.end() ? nullptr : value->second.c_str();
        });
        EXPECT_EQ(found.userFile, c.user);
        EXPECT_EQ(found.machineFile, c.machine);
    }
    veltra::test::TempDir dir;
    Registry nowhere(StoreLocations{"", dir.file("machine")});
    EXPECT_EQ(nowhere.createKey(Root::CurrentUser, "K").result, Result::StoreUnavailable);
}

TEST_F(RegistryStore, TwoProcessesWritingAtOnceLoseNoKey)
{
    constexpr int keysEach = 200;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer)
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            Registry mine(locations());
            int failures = 0;
            for (int i = 0; i < keysEach; ++i)
            {
                const std::string path = "Keys\\w" + std::to_string(writer) + "-" + std::to_string(i);
                failures += mine.createKey(Root::CurrentUser, path).ok() ? 0 : 1;
                failures += mine.setDword(Root::CurrentUser, path, "i", static_cast<std::uint32_t>(i)).ok() ? 0 : 1;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children)
    {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<std::string> names;
    ASSERT_TRUE(_registry.enumSubkeys(Root::CurrentUser, "Keys", names).ok());
    EXPECT_EQ(names.size(), 2u * keysEach);
    std::uint32_t number = 0;
    ASSERT_TRUE(_registry.queryDword(Root::CurrentUser, "Keys\\w1-199", "i", number).ok());
    EXPECT_EQ(number, 199u);
}

TEST_F(RegistryStore, AFailedBatchWritesNothing)
{
    ASSERT_TRUE(_registry.createKey(Root::CurrentUser, "Kept").ok());
    std::string before;
    ASSERT_TRUE(_registry.dump(Store::User, before).ok());
    const Status status = _registry.update({Store::User, Store::Machine}, [](RegistryView& view) {
        EXPECT_TRUE(view.createKey(Root::CurrentUser, {"New"}).ok());
        EXPECT_TRUE(view.createKey(Root::LocalMachine, {"New"}).ok());
        return view.deleteKey(Root::CurrentUser, {"Missing"});
    });
    EXPECT_EQ(status.result, Result::NotFound);
    std::string after;
    ASSERT_TRUE(_registry.dump(Store::User, after).ok());
    EXPECT_EQ(after, before);
    EXPECT_FALSE(std::filesystem::exists(_dir.file("machine/registry")));
    // A batch over one store cannot reach into the other.
    const Status outside = _registry.update(
        {Store::User}, [](RegistryView& view) { return view.createKey(Root::ClassesRoot, {"CLSID"}); });
    EXPECT_EQ(outside.result, Result::StoreUnavailable);
}

TEST(RegistryStoreText, MangledFilesGiveADamageReportOrTheirKeysNeverACrash)
{
    RegistryKey root;
    root.addSubkey("Software").addSubkey("Ombrel \"x\"").setValue(RegistryValue::string("Path", "a\\b\nc\x01"));
    root.addSubkey("Software").setValue(RegistryValue::dword("Count", 42));
    const std::string good = writeStoreText(root);
    std::mt19937 random(20261209);
    for (int round = 0; round < 3000; ++round)
    {
        std::string text = good;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e)
        {
            const std::size_t at = random() % text.size();
            switch (random() % 3)
            {
            case 0: text[at] = static_cast<char>(random() % 256); break;
            case 1: text.erase(at, 1 + random() % 8); break;
            default: text.resize(at);
            }
        }
        RegistryKey read;
        const Status status = readStoreText(text, "f", read);
        if (!status.ok())
        {
            EXPECT_EQ(status.result, Result::StoreDamaged);
            EXPECT_EQ(status.message.rfind("f:", 0), 0u) << status.message;
            EXPECT_TRUE(read.empty());
        }
        else
            EXPECT_EQ(readStoreText(writeStoreText(read), "again", read).result, Result::Ok);
    }
}

} // namespace
