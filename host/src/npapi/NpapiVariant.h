#pragma once

#include "npapi/NpapiBrowser.h"
#include "variant/variant.h"

namespace FB::Npapi {

/// Conversions between the browser's NPVariant and FB::variant, in the browser thread.
///
/// Page to plug-in: void gives empty, null null, int32 int, string std::string; one of our own objects comes back as
/// its JSAPIPtr, any other page object as an NPObjectAPI. Plug-in to page: whole numbers that fit become int32 and
/// others double; strings are copied into browser memory; our objects go out as their one NPJavascriptObject; lists
/// become page arrays, made by calling the window's "Array" and its "push"; anything else (or a list when the page
/// offers no arrays) becomes void.
class NpapiVariant
{
public:
    static variant toVariant(const NpapiBrowserPtr& browser, const NPVariant& value);
    static VariantList toVariantList(const NpapiBrowserPtr& browser, const NPVariant* values, uint32_t count);

    /// The value for the page; the caller owns it and gives it back with NpapiBrowser::releaseVariantValue (or hands
    /// it to the browser as a call's result).
    static NPVariant toNPVariant(const NpapiBrowserPtr& browser, const variant& value);
};

} // namespace FB::Npapi
