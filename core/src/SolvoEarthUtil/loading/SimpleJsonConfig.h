#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <json/value.h>

#include <set>
#include <string>

namespace SolvoEarthUtil {

/// A JSON document read from a file or a URL, queried by top-level key.
class SOLVOEARTHUTIL_EXPORT SimpleJsonConfig
{
public:
    /// Reads and parses `name`: a URL (anything with a server address) is downloaded, anything
    /// else is opened as a file. False for an empty name, a file that cannot be opened, an empty
    /// download or a document that does not parse; the root then keeps what the parser left.
    bool loadJsonFile(std::string name);

    /// The member `key` of the root as a string. A missing key is added to the root with a null
    /// value and gives "".
    std::string getValue(std::string key);

    /// The member names of the root, sorted.
    std::set<std::string> getValues();

    void setJsonRoot(const Json::Value& value) { _root = value; }
    const Json::Value& getJsonRoot() const { return _root; }

private:
    Json::Value _root;
};

} // namespace SolvoEarthUtil
