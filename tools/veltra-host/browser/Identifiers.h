#pragma once

#include <npruntime.h>

#include <cstdint>
#include <optional>
#include <string>

namespace veltra::host::identifiers {

// Interned for the whole process and never freed, as in a browser: plug-ins keep identifiers in
// statics across module loads. Safe from any thread.

NPIdentifier fromString(const char* name);
NPIdentifier fromInt(std::int32_t number);
/// False for null and for anything that is not one of ours.
bool isKnown(NPIdentifier id);
bool isString(NPIdentifier id);
/// The name of a string identifier; nothing for an integer or unknown one.
std::optional<std::string> name(NPIdentifier id);
/// The number of an integer identifier; nothing for a string or unknown one.
std::optional<std::int32_t> number(NPIdentifier id);
/// The property name script would use: the string, or the integer in decimal ("" when unknown).
std::string propertyName(NPIdentifier id);

} // namespace veltra::host::identifiers
