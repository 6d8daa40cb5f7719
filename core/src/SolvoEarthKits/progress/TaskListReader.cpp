#include <SolvoEarthKits/progress/TaskListReader.h>

#include <SolvoEarthUtil/loading/ParseJson.h>

namespace SolvoEarthUtil {

bool readTaskList(const std::string& text, Json::Value& list)
{
    Json::Value root;
    if (!parseJson(text, root, false) || !root.isArray())
        return false;
    for (const Json::Value& element : root)
        if (!element.isObject())
            return false;
    list.swap(root);
    return true;
}

bool readBinding(const std::string& text, Json::Value& binding)
{
    Json::Value root;
    if (!parseJson(text, root, false) || !root.isObject())
        return false;
    binding.swap(root);
    return true;
}

std::string taskText(const Json::Value& task, const char* key)
{
    const Json::Value& value = task[key];
    if (value.isString() || value.isNumeric() || value.isBool())
        return value.asString();
    return std::string();
}

bool taskFlag(const Json::Value& task, const char* key)
{
    const Json::Value& value = task[key];
    if (value.isBool() || value.isNumeric())
        return value.asBool();
    return false;
}

void readBindingIds(const Json::Value& member, std::vector<int>& ids)
{
    if (!member.isArray())
        return;
    for (const Json::Value& id : member)
        if (id.isInt())
            ids.push_back(id.asInt());
}

} // namespace SolvoEarthUtil
