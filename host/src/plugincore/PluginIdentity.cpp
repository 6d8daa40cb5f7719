#include "plugincore/PluginIdentity.h"

// Literal pasting needs macros: the MIME description and the version resource repeat these words,
// and every copy must be built from the one spelling. They do not leave this file.
#define VELTRA_COMPANY "Ombrel"
#define VELTRA_PRODUCT "Veltra"
#define VELTRA_DESCRIPTION VELTRA_COMPANY " webplugin"
#define VELTRA_MIME_TYPE "application/x-veltra"
#define VELTRA_VERSION "1.0.0.0"
#define VELTRA_FILE_NAME "npveltra"
#define VELTRA_MIME_DESCRIPTION VELTRA_MIME_TYPE "::" VELTRA_DESCRIPTION ";"

namespace FB::PluginIdentity {

const char* const productName = VELTRA_PRODUCT;
const char* const description = VELTRA_DESCRIPTION;
const char* const mimeType = VELTRA_MIME_TYPE;
const char* const mimeDescription = VELTRA_MIME_DESCRIPTION;

namespace {

// Constant-initialised, so both records are whole before any code of the library has run.
constexpr VeltraPluginStringPair kVersionRecord[] = {
    {"CompanyName", VELTRA_COMPANY},
    {"FileDescription", VELTRA_DESCRIPTION},
    {"FileVersion", VELTRA_VERSION},
    {"ProductVersion", VELTRA_VERSION},
    {"InternalName", VELTRA_FILE_NAME},
    {"OriginalFilename", VELTRA_FILE_NAME},
    {"ProductName", VELTRA_PRODUCT},
    {"FileOpenName", VELTRA_PRODUCT},
    {"FileExtents", ""},
    {"MIMEType", VELTRA_MIME_TYPE},
    {"LanguageBlock", "040904e4"},
    {nullptr, nullptr},
};

constexpr VeltraPluginStringPair kIdentityRecord[] = {
    {"MIMEType", VELTRA_MIME_TYPE},
    {"Description", VELTRA_DESCRIPTION},
    {"MIMEDescription", VELTRA_MIME_DESCRIPTION},
    {"ClassId", "{c7e7969a-0ac9-50ab-9517-08defcd94162}"},
    {"AppId", "{B415CD14-B45D-4BCA-B552-B06175C38606}"},
    {"ProgId", VELTRA_COMPANY "." VELTRA_PRODUCT ".1"},
    {"VersionIndependentProgId", VELTRA_COMPANY "." VELTRA_PRODUCT},
    {"TypeLibrary", VELTRA_PRODUCT " 1.0 Type Library"},
    {"TypeLibraryName", VELTRA_PRODUCT "Lib"},
    {nullptr, nullptr},
};

} // namespace

const VeltraPluginStringPair* versionRecord()
{
    return kVersionRecord;
}

const VeltraPluginStringPair* identityRecord()
{
    return kIdentityRecord;
}

} // namespace FB::PluginIdentity

#undef VELTRA_COMPANY
#undef VELTRA_PRODUCT
#undef VELTRA_DESCRIPTION
#undef VELTRA_MIME_TYPE
#undef VELTRA_VERSION
#undef VELTRA_FILE_NAME
#undef VELTRA_MIME_DESCRIPTION
