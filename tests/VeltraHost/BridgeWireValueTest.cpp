#include "app/HostOptions.h"
#include "bridge/WireValue.h"

#include <json/reader.h>

// Xlib's macros, pulled in by the NPAPI headers, collide with GoogleTest's names.
#undef None
#undef Bool

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace veltra::host;

namespace {

// Two plug-in objects the page may know by id.
NPObject g_first{};
NPObject g_second{};

PluginObjectIds testIds()
{
    PluginObjectIds ids;
    ids.add = [](NPObject* object) -> std::int64_t { return object == &g_first ? 1 : object == &g_second ? 2 : 0; };
    ids.find = [](std::int64_t id) -> NPObject* { return id == 1 ? &g_first : id == 2 ? &g_second : nullptr; };
    return ids;
}

PageValue roundTrip(const PageValue& value)
{
    return decodeValue(encodeValue(value, testIds()), testIds());
}

Json::Value parse(const char* text)
{
    Json::Value value;
    Json::Reader().parse(text, value);
    return value;
}

} // namespace

TEST(BridgeWireValue, EveryKindOfValueSurvivesTheWire)
{
    EXPECT_EQ(roundTrip(PageValue()), PageValue());
    EXPECT_EQ(roundTrip(PageValue::null()), PageValue::null());
    EXPECT_EQ(roundTrip(PageValue::boolean(true)), PageValue::boolean(true));
    EXPECT_EQ(roundTrip(PageValue::integer(-7)), PageValue::integer(-7));
    EXPECT_EQ(roundTrip(PageValue::number(2.5)), PageValue::number(2.5));
    EXPECT_EQ(roundTrip(PageValue::string("日期 \"x\"")), PageValue::string("日期 \"x\""));
    EXPECT_EQ(roundTrip(PageValue::pageObject(42)), PageValue::pageObject(42));
    EXPECT_EQ(roundTrip(PageValue::pluginObject(&g_second)), PageValue::pluginObject(&g_second));
}

TEST(BridgeWireValue, NumbersArriveAsScriptNumbersDo)
{
    // Whole numbers within 32 bits are Int, as browsers hand them to plug-ins; the rest Double.
    EXPECT_EQ(decodeValue(parse("[3.0]")[0], testIds()), PageValue::integer(3));
    EXPECT_EQ(decodeValue(parse("[2147483648]")[0], testIds()), PageValue::number(2147483648.0));
    EXPECT_EQ(decodeValue(parse("[-0.5]")[0], testIds()), PageValue::number(-0.5));
    // JSON has no NaN or infinity: they travel as null, as JSON.stringify writes them.
    EXPECT_TRUE(encodeValue(PageValue::number(std::nan("")), testIds()).isNull());
    EXPECT_TRUE(encodeValue(PageValue::number(std::numeric_limits<double>::infinity()), testIds()).isNull());
}

TEST(BridgeWireValue, PluginObjectsTheTableCannotListTravelAsNull)
{
    NPObject stranger{};
    EXPECT_TRUE(encodeValue(PageValue::pluginObject(&stranger), testIds()).isNull());
}

TEST(BridgeWireValue, MalformedValuesAreRefusedWithTheReason)
{
    auto refusal = [](const char* text) {
        try
        {
            decodeValue(parse(text)[0], testIds());
        }
        catch (const WireError& error)
        {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal(R"([{"$":"plugin","id":9}])"), "unknown plug-in object 9");
    EXPECT_EQ(refusal(R"([{"$":"page"}])"), "a tagged value lacks its whole number \"handle\"");
    EXPECT_EQ(refusal(R"([{"$":"page","handle":"1"}])"), "a tagged value lacks its whole number \"handle\"");
    EXPECT_EQ(refusal(R"([{"$":"function"}])"), "an object value without a known \"$\" tag");
    EXPECT_EQ(refusal(R"([{"x":1}])"), "an object value without a known \"$\" tag");
    EXPECT_EQ(refusal(R"([[1,2]])"), "arrays travel as page objects, not as values");
}

TEST(HostOptions, ArgumentsOverrideDefaultsAndBadOnesAreNamed)
{
    HostOptions defaults;
    defaults.site = "/srv/site";
    bool help = false;
    HostOptions options = parseHostOptions({"--port", "0", "--pictures", "png", "--quality", "60", "--max-instances",
                                            "3", "--display", ":7"},
                                           defaults, help);
    EXPECT_FALSE(help);
    EXPECT_EQ(options.site, "/srv/site");
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.pictureFormat, PictureFormat::Png);
    EXPECT_EQ(options.pictureQuality, 60);
    EXPECT_EQ(options.maxInstancesPerPage, 3u);
    EXPECT_EQ(options.display, ":7");
    EXPECT_EQ(options.address, "127.0.0.1") << "loopback unless told otherwise";

    parseHostOptions({"--help"}, defaults, help);
    EXPECT_TRUE(help);

    auto refusal = [&](std::vector<std::string> args) {
        try
        {
            parseHostOptions(args, defaults, help);
        }
        catch (const std::invalid_argument& error)
        {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal({"--port", "70000"}), "--port takes a whole number from 0 to 65535, not \"70000\"");
    EXPECT_EQ(refusal({"--port", "80x"}), "--port takes a whole number from 0 to 65535, not \"80x\"");
    EXPECT_EQ(refusal({"--site"}), "--site needs a value");
    EXPECT_EQ(refusal({"--pictures", "gif"}), "--pictures takes jpeg or png, not \"gif\"");
    EXPECT_EQ(refusal({"--colour", "red"}), "unknown option \"--colour\"");
    EXPECT_EQ(refusal({"stray"}), "unknown argument \"stray\"");
}

TEST(HostOptions, TheCallSizeLimitTakesBytesOrUnitsWithinItsBounds)
{
    EXPECT_EQ(HostOptions().maxCallBytes, 64u << 20) << "a real layer's GeoJSON fits by default";
    struct Case
    {
        std::string text;
        std::size_t bytes; // 0: refused
    };
    const Case cases[] = {
        {"2048", 2048}, {"512K", 512u << 10}, {"512k", 512u << 10}, {"1M", 1u << 20},  {"1G", 1u << 30},
        {"1023", 0},    {"2G", 0},            {"0", 0},             {"1.5M", 0},       {"M", 0},
        {"-4M", 0},     {"99999999999999999999", 0},                {"", 0},
    };
    for (const Case& c : cases)
    {
        bool help = false;
        try
        {
            const HostOptions options = parseHostOptions({"--max-call-size", c.text}, HostOptions(), help);
            EXPECT_EQ(options.maxCallBytes, c.bytes) << c.text;
        }
        catch (const std::invalid_argument& error)
        {
            EXPECT_EQ(c.bytes, 0u) << c.text << ": " << error.what();
            EXPECT_EQ(std::string(error.what()), "--max-call-size takes a size from 1K to 1024M, not \"" + c.text + "\"");
        }
    }
}

TEST(HostOptions, APageProcessGetsTheHostsOptionsBackFromItsArguments)
{
    HostOptions host;
    host.plugin = "/opt/veltra/npveltra.so";
    host.display = ":3";
    host.pictureFormat = PictureFormat::Png;
    host.pictureQuality = 40;
    host.maxInstancesPerPage = 5;
    host.maxCallBytes = 3u << 20;
    host.pageMemoryBytes = 0;
    host.pageOpenFiles = 300;
    bool help = false;
    const HostOptions page = parseHostOptions(pageProcessArguments(host, 3), HostOptions(), help);
    EXPECT_EQ(page.pageProcessChannel, 3);
    EXPECT_EQ(page.plugin, host.plugin);
    EXPECT_EQ(page.display, host.display);
    EXPECT_EQ(page.pictureFormat, host.pictureFormat);
    EXPECT_EQ(page.pictureQuality, host.pictureQuality);
    EXPECT_EQ(page.maxInstancesPerPage, host.maxInstancesPerPage);
    EXPECT_EQ(page.maxCallBytes, host.maxCallBytes);
    EXPECT_EQ(page.pageMemoryBytes, 0u) << "no memory limit";
    EXPECT_EQ(page.pageOpenFiles, host.pageOpenFiles);

    EXPECT_FALSE(HostOptions().singleProcess) << "a process per page unless asked";
    EXPECT_TRUE(parseHostOptions({"--single-process"}, HostOptions(), help).singleProcess);
    EXPECT_EQ(parseHostOptions({"--page-memory", "2G"}, HostOptions(), help).pageMemoryBytes, std::size_t(2) << 30);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--page-memory", "1M"}, {"--page-memory", "lots"}, {"--page-files", "10"}})
        EXPECT_THROW(parseHostOptions(bad, HostOptions(), help), std::invalid_argument) << bad[0] << " " << bad[1];
}
