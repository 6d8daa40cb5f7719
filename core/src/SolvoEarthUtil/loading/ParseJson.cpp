#include <SolvoEarthUtil/loading/ParseJson.h>

#include <json/reader.h>

#include <exception>

namespace SolvoEarthUtil {

bool parseJson(std::istream& in, Json::Value& root, bool collectComments)
{
    try
    {
        Json::Reader reader;
        return reader.parse(in, root, collectComments);
    }
    catch (const std::exception&)
    {
        return false;
    }
}

bool parseJson(const std::string& text, Json::Value& root, bool collectComments)
{
    try
    {
        Json::Reader reader;
        return reader.parse(text, root, collectComments);
    }
    catch (const std::exception&)
    {
        return false;
    }
}

} // namespace SolvoEarthUtil
