#include "bridge/WireParts.h"
#include "bridge/WireValue.h"

// Xlib's macros, pulled in by the NPAPI headers, collide with GoogleTest's names.
#undef None
#undef Bool

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace veltra::host;

namespace {

/// A text of `bytes` bytes and more with every kind of character a page sends: multi-byte ones
/// (two, three and four bytes, the last two UTF-16 units), quotes, backslashes, control characters.
std::string mixedText(std::size_t bytes)
{
    const std::string piece = "{\"名称\":\"管线 \\\"A\\\" \\\\ é 😀\"}\t\r\n\x01 plain ascii text ";
    std::string text;
    while (text.size() < bytes)
        text += piece;
    return text;
}

Json::Value callWith(const Json::Value& argument)
{
    Json::Value message(Json::objectValue);
    message["page"] = 1;
    message["op"] = "call";
    message["call"]["kind"] = "invoke";
    message["call"]["args"].append(argument);
    return message;
}

} // namespace

TEST(BridgeWireParts, Utf16LengthsCountAsScriptDoesAndRejectWhatIsNotUtf8)
{
    struct Case
    {
        std::string text;
        std::optional<std::size_t> units;
    };
    const Case cases[] = {
        {"", 0},
        {"plain", 5},
        {"0123456789abcdef", 16},
        {"\xC3\xA9", 1},                       // é
        {"\xE7\xAE\xA1", 1},                   // 管
        {"\xF0\x9F\x98\x80", 2},               // 😀, a surrogate pair
        {"1234567\xE7\xAE\xA1" "89", 10},      // a character across an eight-byte word
        {"\x80", std::nullopt},                // a stray continuation byte
        {"\xC0\x80", std::nullopt},            // overlong
        {"\xED\xA0\x80", std::nullopt},        // a surrogate
        {"\xF4\x90\x80\x80", std::nullopt},    // past U+10FFFF
        {"ab\xE7\xAE", std::nullopt},          // cut short
        {"\xE7\x41\xA1", std::nullopt},        // not a continuation
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(wireparts::utf16Length(c.text), c.units) << "\"" << c.text << "\"";
        // Cutting by the counted length takes the whole text back.
        if (c.units)
        {
            EXPECT_EQ(wireparts::bytesForUnits(c.text, *c.units), c.text.size()) << "\"" << c.text << "\"";
        }
    }
}

TEST(BridgeWireParts, CuttingByUnitsStopsAtTheTextsEndAndNeverSplitsAPair)
{
    const std::string text = "ab\xF0\x9F\x98\x80" "cd";
    EXPECT_EQ(wireparts::bytesForUnits(text, 2), 2u);
    EXPECT_EQ(wireparts::bytesForUnits(text, 3), std::nullopt) << "half of a surrogate pair";
    EXPECT_EQ(wireparts::bytesForUnits(text, 4), 6u);
    EXPECT_EQ(wireparts::bytesForUnits(text, 6), 8u);
    EXPECT_EQ(wireparts::bytesForUnits(text, 7), std::nullopt) << "past the end";
    EXPECT_EQ(wireparts::bytesForUnits(std::string(20, 'x'), 17), 17u);
}

TEST(BridgeWireParts, LongTextsTravelBesideTheJsonAndComeBackIntact)
{
    Json::Value message = callWith(mixedText(100000));
    message["call"]["args"].append("short stays inside");
    message["call"]["args"].append(std::string(5000, 'y'));
    message["call"]["nested"]["deep"] = mixedText(5000);
    message["call"]["name"] = "echo";

    const std::string body = wireparts::write(message, true);
    const std::string head = body.substr(0, body.find('\n'));
    EXPECT_LT(head.size(), 400u) << "the long texts are not in the JSON";
    EXPECT_NE(head.find("short stays inside"), std::string::npos);
    EXPECT_NE(head.find("\"$\":\"text\""), std::string::npos);
    EXPECT_EQ(wireparts::read(body, true), message);

    // Plain JSON both ways, for callers that do not speak parts.
    const std::string plain = wireparts::write(message, false);
    EXPECT_EQ(plain.find('\n'), std::string::npos);
    EXPECT_EQ(wireparts::read(plain, false), message);
}

TEST(BridgeWireParts, TextsThatAreNotUtf8StayInTheJson)
{
    // A browser would decode such bytes to another length, so they cannot be cut by it.
    const Json::Value message = callWith(std::string(5000, 'z') + "\xFF");
    const std::string body = wireparts::write(message, true);
    EXPECT_EQ(body.back(), '\n') << "nothing follows the JSON";
    EXPECT_EQ(body.find("\"$\":\"text\""), std::string::npos);
}

TEST(BridgeWireParts, MalformedMessagesInPartsAreRefusedWithTheReason)
{
    const std::string text = "{\"$\":\"text\",\"part\":0,\"length\":3}";
    struct Case
    {
        std::string body;
        std::string reason;
    };
    const Case cases[] = {
        {"{\"a\":" + text + "}", "lacks the line feed"},
        {"{\"a\":" + text + "}\nab", "text part 0 is shorter than its length"},
        {"{\"a\":" + text + "}\nabcd", "bytes after its last text"},
        {"{\"a\":" + text + ",\"b\":" + text + "}\nabcabc", "text part 1 is missing or given twice"},
        {"{\"a\":{\"$\":\"text\",\"part\":1,\"length\":3}}\nabc", "text part 0 is missing or given twice"},
        {"{\"a\":{\"$\":\"text\",\"length\":3}}\nabc", "lacks its whole number \"part\""},
        {"{\"a\":{\"$\":\"text\",\"part\":0,\"length\":-1}}\n", "lacks its whole number \"length\""},
        {"{\"a\":\n", "not JSON"},
    };
    for (const Case& c : cases)
    {
        try
        {
            wireparts::read(c.body, true);
            ADD_FAILURE() << c.body << " was accepted";
        }
        catch (const WireError& error)
        {
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << c.body << ": " << error.what();
        }
    }
}

TEST(BridgeWireParts, MediaTypesAreMatchedWithoutParametersOrCase)
{
    EXPECT_TRUE(wireparts::isMediaType("application/x-veltra-parts; charset=utf-8", wireparts::MediaType));
    EXPECT_TRUE(wireparts::isMediaType(" Application/X-Veltra-Parts", wireparts::MediaType));
    EXPECT_FALSE(wireparts::isMediaType("application/json", wireparts::MediaType));
    EXPECT_FALSE(wireparts::isMediaType("", wireparts::MediaType));
    EXPECT_TRUE(wireparts::accepts("application/x-veltra-parts, application/json", wireparts::MediaType));
    EXPECT_TRUE(wireparts::accepts("application/json,application/x-veltra-parts;q=0.9", wireparts::MediaType));
    EXPECT_FALSE(wireparts::accepts("*/*", wireparts::MediaType));
    EXPECT_FALSE(wireparts::accepts("", wireparts::MediaType));
}
