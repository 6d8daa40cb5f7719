#include "bridge/WireParts.h"

#include "bridge/WireValue.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace veltra::host::wireparts {

namespace {

const char* const Tag = "$";

/// Eight bytes that are all ASCII: most of a GeoJSON text goes by this way.
bool asciiWord(const unsigned char* bytes)
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return (word & 0x8080808080808080ull) == 0;
}

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool sameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

Json::Value parse(const char* begin, const char* end)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    if (!reader->parse(begin, end, &value, &errors))
        throw WireError("not JSON: " + errors);
    return value;
}

std::string compact(const Json::Value& message)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, message);
}

struct Placeholder
{
    Json::Value* node = nullptr;
    std::uint64_t part = 0;
    std::uint64_t length = 0;
};

std::uint64_t tagNumber(const Json::Value& tagged, const char* name)
{
    const Json::Value& field = tagged[name];
    if (!field.isIntegral() || field.asInt64() < 0)
        throw WireError(std::string("a text part lacks its whole number \"") + name + "\"");
    return field.asUInt64();
}

void findPlaceholders(Json::Value& node, std::vector<Placeholder>& found)
{
    if (node.isObject())
    {
        const Json::Value& tag = static_cast<const Json::Value&>(node)[Tag];
        if (tag.isString() && tag.asString() == "text")
        {
            found.push_back({&node, tagNumber(node, "part"), tagNumber(node, "length")});
            return;
        }
    }
    if (node.isObject() || node.isArray())
        for (Json::Value& child : node)
            findPlaceholders(child, found);
}

void liftTexts(Json::Value& node, std::vector<Json::Value>& texts, std::size_t liftedBytes)
{
    if (node.isString())
    {
        const char* begin = nullptr;
        const char* end = nullptr;
        node.getString(&begin, &end);
        if (static_cast<std::size_t>(end - begin) < liftedBytes)
            return;
        const std::optional<std::size_t> units = utf16Length(std::string_view(begin, end - begin));
        if (!units)
            return;
        Json::Value placeholder(Json::objectValue);
        placeholder[Tag] = "text";
        placeholder["part"] = Json::UInt64(texts.size());
        placeholder["length"] = Json::UInt64(*units);
        texts.emplace_back();
        texts.back().swap(node); // the text moves, uncopied
        node.swap(placeholder);
        return;
    }
    if (node.isObject() || node.isArray())
        for (Json::Value& child : node)
            liftTexts(child, texts, liftedBytes);
}

} // namespace

bool isMediaType(std::string_view header, std::string_view type)
{
    return sameLetters(trimmed(header.substr(0, header.find(';'))), type);
}

bool accepts(std::string_view header, std::string_view type)
{
    while (!header.empty())
    {
        const std::size_t comma = header.find(',');
        if (isMediaType(header.substr(0, comma), type))
            return true;
        if (comma == std::string_view::npos)
            break;
        header.remove_prefix(comma + 1);
    }
    return false;
}

std::optional<std::size_t> bytesForUnits(std::string_view utf8, std::size_t units)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    std::size_t at = 0;
    while (units > 0)
    {
        if (units >= 8 && size - at >= 8 && asciiWord(bytes + at))
        {
            at += 8;
            units -= 8;
            continue;
        }
        if (at >= size)
            return std::nullopt;
        const unsigned lead = bytes[at];
        const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        // Characters beyond the basic plane are two UTF-16 units (a surrogate pair).
        const std::size_t count = length == 4 ? 2 : 1;
        if (count > units || size - at < length)
            return std::nullopt;
        at += length;
        units -= count;
    }
    return at;
}

std::optional<std::size_t> utf16Length(std::string_view utf8)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    std::size_t at = 0;
    std::size_t units = 0;
    while (at < size)
    {
        if (size - at >= 8 && asciiWord(bytes + at))
        {
            at += 8;
            units += 8;
            continue;
        }
        const unsigned lead = bytes[at];
        if (lead < 0x80)
        {
            ++at;
            ++units;
            continue;
        }
        std::size_t following = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0;
        if (lead >= 0xC2 && lead <= 0xDF)
        {
            following = 1;
            code = lead & 0x1F;
            least = 0x80;
        }
        else if ((lead & 0xF0) == 0xE0)
        {
            following = 2;
            code = lead & 0x0F;
            least = 0x800;
        }
        else if (lead >= 0xF0 && lead <= 0xF4)
        {
            following = 3;
            code = lead & 0x07;
            least = 0x10000;
        }
        else
            return std::nullopt;
        if (size - at <= following)
            return std::nullopt;
        for (std::size_t i = 1; i <= following; ++i)
        {
            const unsigned next = bytes[at + i];
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8.
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        at += following + 1;
        units += code >= 0x10000 ? 2 : 1;
    }
    return units;
}

Json::Value read(std::string_view body, bool inParts)
{
    if (!inParts)
        return parse(body.data(), body.data() + body.size());

    const std::size_t lineFeed = body.find('\n');
    if (lineFeed == std::string_view::npos)
        throw WireError("a message in parts lacks the line feed after its JSON");
    Json::Value message = parse(body.data(), body.data() + lineFeed);
    std::vector<Placeholder> placeholders;
    findPlaceholders(message, placeholders);
    std::sort(placeholders.begin(), placeholders.end(),
              [](const Placeholder& a, const Placeholder& b) { return a.part < b.part; });

    std::string_view texts = body.substr(lineFeed + 1);
    for (std::size_t i = 0; i < placeholders.size(); ++i)
    {
        const Placeholder& placeholder = placeholders[i];
        if (placeholder.part != i)
            throw WireError("text part " + std::to_string(i) + " is missing or given twice");
        const std::optional<std::size_t> bytes = bytesForUnits(texts, placeholder.length);
        if (!bytes)
            throw WireError("text part " + std::to_string(i) + " is shorter than its length");
        *placeholder.node = Json::Value(texts.data(), texts.data() + *bytes);
        texts.remove_prefix(*bytes);
    }
    if (!texts.empty())
        throw WireError("a message in parts has bytes after its last text");
    return message;
}

std::string write(Json::Value message, bool inParts, std::size_t liftedBytes)
{
    if (!inParts)
        return compact(message);
    std::vector<Json::Value> texts;
    liftTexts(message, texts, liftedBytes);
    const std::string head = compact(message);
    std::size_t total = head.size() + 1;
    for (const Json::Value& text : texts)
    {
        const char* begin = nullptr;
        const char* end = nullptr;
        text.getString(&begin, &end);
        total += static_cast<std::size_t>(end - begin);
    }
    std::string body;
    body.reserve(total);
    body += head;
    body += '\n';
    for (const Json::Value& text : texts)
    {
        const char* begin = nullptr;
        const char* end = nullptr;
        text.getString(&begin, &end);
        body.append(begin, end);
    }
    return body;
}

} // namespace veltra::host::wireparts
