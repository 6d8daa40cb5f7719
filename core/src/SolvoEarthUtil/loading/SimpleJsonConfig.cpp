#include <SolvoEarthUtil/loading/SimpleJsonConfig.h>

#include <SolvoEarthUtil/http/ReadWebJsonFile.h>
#include <SolvoEarthUtil/loading/ParseJson.h>

#include <osgDB/FileNameUtils>

#include <fstream>
#include <sstream>

namespace SolvoEarthUtil {

bool SimpleJsonConfig::loadJsonFile(std::string name)
{
    if (name.empty())
        return false;

    if (osgDB::containsServerAddress(name))
    {
        std::stringstream downloaded;
        readwebjosnfile(name, downloaded, nullptr);
        return parseJson(downloaded, _root, true);
    }

    std::ifstream file(name.c_str(), std::ios::in | std::ios::binary);
    if (!file.is_open())
        return false;
    return parseJson(file, _root, true);
}

std::string SimpleJsonConfig::getValue(std::string key)
{
    return _root[key].asString();
}

std::set<std::string> SimpleJsonConfig::getValues()
{
    const Json::Value::Members names = _root.getMemberNames();
    return std::set<std::string>(names.begin(), names.end());
}

} // namespace SolvoEarthUtil
