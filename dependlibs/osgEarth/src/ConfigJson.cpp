// Config <-> JSON. The shapes follow the configuration JSON the page already exchanges: every value a string,
// repeated keys as "<key>_$set" arrays, and a non-simple root wrapped in an object named after its key.
#include <osgEarth/Config>

#include <json/json.h>
#include <osg/Notify>

#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <vector>

namespace osgEarth {

namespace {

const char* const kArraySuffix = "_$set";
// Read as well, for JSON written by newer configuration writers.
const char* const kAlternateArraySuffix = "__array__";

Json::Value toJsonValue(const Config& conf)
{
    Json::Value object(Json::objectValue);
    if (conf.isSimple())
    {
        object[conf.key()] = conf.value();
        return object;
    }
    if (!conf.value().empty())
    {
        object["$value"] = conf.value();
    }

    // Grouping through an ordered map emits members in byte-wise key order, matching jsoncpp's own ordering.
    std::map<std::string, std::vector<const Config*>> groups;
    for (const Config& c : conf.children())
    {
        groups[c.key()].push_back(&c);
    }
    for (const auto& [key, members] : groups)
    {
        if (members.size() == 1)
        {
            const Config& only = *members.front();
            object[key] = only.isSimple() ? Json::Value(only.value()) : toJsonValue(only);
            continue;
        }
        Json::Value array(Json::arrayValue);
        for (const Config* member : members)
        {
            array.append(toJsonValue(*member));
        }
        object[key + kArraySuffix] = array;
    }
    return object;
}

// jsoncpp's own asString() writes reals with 17 digits (0.1 -> 0.10000000000000001); 16 keeps typed numbers as
// they were typed and loses nothing the system sends.
std::string jsonScalarText(const Json::Value& value)
{
    switch (value.type())
    {
    case Json::nullValue: return std::string();
    case Json::intValue: return std::to_string(value.asLargestInt());
    case Json::uintValue: return std::to_string(value.asLargestUInt());
    case Json::realValue:
    {
        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "%.16g", value.asDouble());
        return buffer;
    }
    case Json::stringValue: return value.asString();
    case Json::booleanValue: return value.asBool() ? "true" : "false";
    default: return std::string();
    }
}

bool hasArraySuffix(const std::string& name, std::string& base)
{
    for (const std::string suffix : {kArraySuffix, kAlternateArraySuffix})
    {
        if (name.size() > suffix.size() && endsWith(name, suffix))
        {
            base = name.substr(0, name.size() - suffix.size());
            return true;
        }
    }
    return false;
}

void fromJsonValue(const Json::Value& json, Config& conf, bool atRoot);

void fromJsonArray(const Json::Value& array, Config& conf)
{
    for (const Json::Value& element : array)
    {
        Config item;
        fromJsonValue(element, item, false);
        if (!item.empty())
        {
            conf.add(item);
        }
    }
}

void fromJsonObject(const Json::Value& object, Config& conf, bool atRoot)
{
    // getMemberNames() is sorted, so children come out alphabetically whatever the text order was.
    for (const std::string& name : object.getMemberNames())
    {
        const Json::Value& member = object[name];
        std::string base;
        if (member.isObject())
        {
            if (atRoot && object.size() == 1)
            {
                // Undoes the wrapper toJSON puts around a non-simple root.
                conf.key() = name;
                fromJsonValue(member, conf, false);
            }
            else
            {
                Config child(name);
                fromJsonValue(member, child, false);
                conf.add(child);
            }
        }
        else if (member.isArray() && hasArraySuffix(name, base))
        {
            for (const Json::Value& element : member)
            {
                Config child(base);
                fromJsonValue(element, child, false);
                conf.add(child);
            }
        }
        else if (name == "$key" && !member.isArray())
        {
            conf.key() = jsonScalarText(member);
        }
        else if (name == "$value" && !member.isArray())
        {
            conf.value() = jsonScalarText(member);
        }
        else if (name == "$children" && member.isArray())
        {
            fromJsonArray(member, conf);
        }
        else if (member.isArray())
        {
            Config child(name);
            fromJsonArray(member, child);
            conf.add(child);
        }
        else
        {
            conf.add(name, jsonScalarText(member));
        }
    }
}

void fromJsonValue(const Json::Value& json, Config& conf, bool atRoot)
{
    if (json.isObject())
    {
        fromJsonObject(json, conf, atRoot);
    }
    else if (json.isArray())
    {
        fromJsonArray(json, conf);
    }
    else if (!json.isNull())
    {
        conf.value() = jsonScalarText(json);
    }
}

bool parseJson(const std::string& text, Json::Value& root, std::string& error)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["failIfExtra"] = true;
    // Bounds recursion in the parser and in our own mapping, so hostile nesting is an error, not a stack overflow.
    builder["stackLimit"] = 256;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    try
    {
        return reader->parse(text.data(), text.data() + text.size(), &root, &error);
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }
}

} // namespace

std::string Config::toJSON(bool pretty) const
{
    Json::Value root;
    if (isSimple())
    {
        root = toJsonValue(*this);
    }
    else
    {
        root = Json::Value(Json::objectValue);
        root[_key] = toJsonValue(*this);
    }
    if (pretty)
    {
        Json::StyledWriter writer;
        return writer.write(root);
    }
    Json::FastWriter writer;
    return writer.write(root);
}

bool Config::fromJSON(const std::string& json, std::string& error)
{
    Json::Value root;
    if (!parseJson(json, root, error))
    {
        if (error.empty())
        {
            error = "malformed JSON";
        }
        return false;
    }
    // Parsing is the only step that can fail, so a malformed text never leaves this Config half-filled.
    fromJsonValue(root, *this, true);
    return true;
}

bool Config::fromJSON(const std::string& json)
{
    std::string error;
    if (!fromJSON(json, error))
    {
        OSG_WARN << "[Config] Cannot read JSON: " << error << std::endl;
        return false;
    }
    return true;
}

} // namespace osgEarth
