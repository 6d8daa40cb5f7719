#pragma once

// The plug-in library's identity: what a Windows build keeps in its version resource and
// registration script, kept here once so that the NPAPI strings, the exported records and any
// registration code all read the same text.

extern "C" {

/// One entry of a record the plug-in library exports; a record ends with an entry whose key is null.
struct VeltraPluginStringPair
{
    const char* key;
    const char* value;
};

} // extern "C"

namespace FB::PluginIdentity {

extern const char* const productName;     // "Veltra", also the name browsers list
extern const char* const description;     // "Ombrel webplugin"
extern const char* const mimeType;        // "application/x-veltra"
extern const char* const mimeDescription; // "type::description;" as NP_GetMIMEDescription answers

/// The version resource's strings in its order (CompanyName ... MIMEType), then "LanguageBlock"
/// with the resource's language and code page block. Static storage; null-key terminated.
const VeltraPluginStringPair* versionRecord();

/// The names the plug-in is registered under: MIME type, description, MIME description, COM class
/// and application ids, ProgIDs and type library. Static storage; null-key terminated.
const VeltraPluginStringPair* identityRecord();

} // namespace FB::PluginIdentity
