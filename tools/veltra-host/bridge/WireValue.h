#pragma once

#include "browser/PageValue.h"

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <stdexcept>

namespace veltra::host {

/// A message from the page that does not follow the bridge protocol.
class WireError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

/// How plug-in objects are named on the wire: the page knows them by ids.
struct PluginObjectIds
{
    /// Lists `object` for the page, which then holds one reference to it; answers its id.
    std::function<std::int64_t(NPObject* object)> add;
    /// The object behind an id the page sent, borrowed; null when unknown.
    std::function<NPObject*(std::int64_t id)> find;
};

/// Values travel as JSON: null, booleans, numbers and strings as themselves; the rest as tagged
/// objects, {"$":"void"}, {"$":"page","handle":H} for a page object and {"$":"plugin","id":N} for
/// one of the plug-in's. Numbers that are whole and fit 32 bits arrive as Int, others as Double,
/// as browsers hand script numbers to plug-ins.
Json::Value encodeValue(const PageValue& value, const PluginObjectIds& ids);

/// Throws WireError for anything else than the forms above, or an unknown plug-in object id.
PageValue decodeValue(const Json::Value& wire, const PluginObjectIds& ids);

} // namespace veltra::host
