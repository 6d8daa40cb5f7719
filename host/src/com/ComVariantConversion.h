#pragma once

#include "com/ComVariant.h"
#include "variant/variant.h"

#include <vector>

namespace FB::Com {

// Conversions between dispatch values and FB::variant, by the rules of the NPAPI bridge.
//
// Host to plug-in: empty gives empty, null null, bool bool, int32 int, double double, string std::string.
// A dispatch bridge of ours comes back as its JSAPIPtr; any other dispatch object as a JSObjectPtr
// (DispatchObject).
//
// Plug-in to host: whole numbers that fit become int32 and others double; float and double become double;
// wide strings become UTF-8; our scriptable objects go out as their one bridge (DispatchBridge::wrap); a
// JSObjectPtr that wraps a dispatch object goes out as that object, any other page object as empty; a list
// goes out as a read-only array-like object with "length" and the properties "0", "1", ... .
variant toVariant(const ComVariant& value);
VariantList toVariantList(const std::vector<ComVariant>& values);
ComVariant toComVariant(const variant& value);

} // namespace FB::Com
