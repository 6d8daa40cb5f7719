#include "BuildOutputs.h"
#include "PluginHarness.h"

#include "plugincore/PluginIdentity.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using veltra::test::PluginLibrary;

namespace {

using Record = std::vector<std::pair<std::string, std::string>>;
using RecordExport = const VeltraPluginStringPair* (*)();

// Reads a null-key terminated record, giving up past a length no record has (a missing end).
Record readRecord(const VeltraPluginStringPair* entry)
{
    Record record;
    for (; entry && entry->key && record.size() < 64; ++entry)
        record.emplace_back(entry->key, entry->value ? entry->value : "(null)");
    return record;
}

// The strings are written out here rather than taken from the identity's constants, so that a
// changed spelling or order there is caught.
const Record kVersionRecord = {
    {"CompanyName", "Ombrel"},
    {"FileDescription", "Ombrel webplugin"},
    {"FileVersion", "1.0.0.0"},
    {"ProductVersion", "1.0.0.0"},
    {"InternalName", "npveltra"},
    {"OriginalFilename", "npveltra"},
    {"ProductName", "Veltra"},
    {"FileOpenName", "Veltra"},
    {"FileExtents", ""},
    {"MIMEType", "application/x-veltra"},
    {"LanguageBlock", "040904e4"},
};

const Record kIdentityRecord = {
    {"MIMEType", "application/x-veltra"},
    {"Description", "Ombrel webplugin"},
    {"MIMEDescription", "application/x-veltra::Ombrel webplugin;"},
    {"ClassId", "{c7e7969a-0ac9-50ab-9517-08defcd94162}"},
    {"AppId", "{B415CD14-B45D-4BCA-B552-B06175C38606}"},
    {"ProgId", "Ombrel.Veltra.1"},
    {"VersionIndependentProgId", "Ombrel.Veltra"},
    {"TypeLibrary", "Veltra 1.0 Type Library"},
    {"TypeLibraryName", "VeltraLib"},
};

} // namespace

// Read before NP_Initialize, as a tool listing plug-ins does, and again while the module runs.
TEST(PluginIdentityExport, RecordsGiveTheIdentityInOrderBeforeAndAfterInitialize)
{
    PluginLibrary library(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));
    struct Case
    {
        const char* exportName;
        const Record& expected;
    };
    const Case cases[] = {{"VeltraPlugin_GetVersionInfo", kVersionRecord},
                          {"VeltraPlugin_GetIdentity", kIdentityRecord}};
    for (const Case& c : cases)
    {
        const auto read = library.symbol<RecordExport>(c.exportName);
        ASSERT_NE(read, nullptr) << c.exportName;
        EXPECT_EQ(readRecord(read()), c.expected) << c.exportName;
    }

    veltra::test::TestBrowser browser;
    NPPluginFuncs funcs{};
    funcs.size = sizeof funcs;
    ASSERT_EQ(library.initialize(browser.funcs(), &funcs), NPERR_NO_ERROR);
    for (const Case& c : cases)
        EXPECT_EQ(readRecord(library.symbol<RecordExport>(c.exportName)()), c.expected) << c.exportName;
    EXPECT_EQ(library.shutdown(), NPERR_NO_ERROR);
}

// The strings browsers see come from the same place as the records.
TEST(PluginIdentityExport, BrowserStringsMatchTheRecords)
{
    PluginLibrary library(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));
    const Record identity = readRecord(library.symbol<RecordExport>("VeltraPlugin_GetIdentity")());
    ASSERT_EQ(identity.size(), kIdentityRecord.size());
    EXPECT_EQ(library.getMIMEDescription(), identity[2].second);
    const char* text = nullptr;
    ASSERT_EQ(library.getValue(nullptr, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_EQ(text, identity[1].second);
    ASSERT_EQ(library.getValue(nullptr, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, FB::PluginIdentity::productName);
}
