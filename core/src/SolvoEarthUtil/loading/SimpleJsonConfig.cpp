#include <SolvoEarthUtil/loading/SimpleJsonConfig.h>

#include <SolvoEarthUtil/http/ReadWebJsonFile.h>

#include <json/reader.h>
#include <osgDB/FileNameUtils>

#include <exception>
#include <fstream>
#include <sstream>

namespace SolvoEarthUtil {

namespace {

bool parseInto(std::istream& in, Json::Value& root)
{
    // A stream over something that is not a regular file (a folder, say) throws while being read.
    try
    {
        Json::Reader reader;
        return reader.parse(in, root, true);
    }
    catch (const std::exception&)
    {
        return false;
    }
}

} // namespace

bool SimpleJsonConfig::loadJsonFile(std::string name)
{
    if (name.empty())
        return false;

    if (osgDB::containsServerAddress(name))
    {
        std::stringstream downloaded;
        readwebjosnfile(name, downloaded, nullptr);
        return parseInto(downloaded, _root);
    }

    std::ifstream file(name.c_str(), std::ios::in | std::ios::binary);
    if (!file.is_open())
        return false;
    return parseInto(file, _root);
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
