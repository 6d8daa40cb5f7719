#include "com/RegistrationScript.h"

#include "plugincore/PluginIdentity.h"

#include <cstring>

namespace FB::Com {
namespace {

// The one copy of the script: the exports apply it, the tests read it from here. The AppID key names the
// library as Windows knows it, which is what hosts of the control look for.
const char* const kScript = R"RGS(HKCR
{
    NoRemove AppID
    {
        '%APPID%' = s 'PluginHostWin'
        'npveltra.dll'
        {
            val AppID = s '%APPID%'
        }
    }
    ForceRemove 'Ombrel.Veltra.1' = s 'Ombrel webplugin'
    {
        CLSID = s '{c7e7969a-0ac9-50ab-9517-08defcd94162}'
    }
    ForceRemove 'Ombrel.Veltra' = s 'Ombrel webplugin'
    {
        CLSID = s '{c7e7969a-0ac9-50ab-9517-08defcd94162}'
        CurVer = s 'Ombrel.Veltra.1'
    }
    NoRemove CLSID
    {
        ForceRemove {c7e7969a-0ac9-50ab-9517-08defcd94162} = s 'Ombrel webplugin'
        {
            ProgID = s 'Ombrel.Veltra.1'
            VersionIndependentProgID = s 'Ombrel.Veltra'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s '%THREADING%'
            }
            val AppID = s '%APPID%'
            ForceRemove 'Control'
            'MiscStatus' = s '0'
            {
                '1' = s '131473'
            }
            'TypeLib' = s '%LIBID%'
            'Version' = s '1'
        }
    }
    NoRemove MIME
    {
        NoRemove Database
        {
            NoRemove 'Content Type'
            {
                ForceRemove 'application/x-veltra' = s 'Ombrel webplugin'
                {
                    val Extension = s ''
                    val CLSID = s '{c7e7969a-0ac9-50ab-9517-08defcd94162}'
                }
            }
        }
    }
}
HKCU
{
    NoRemove Software
    {
        NoRemove Microsoft
        {
            NoRemove Windows
            {
                NoRemove CurrentVersion
                {
                    NoRemove Ext
                    {
                        NoRemove PreApproved
                        {
                            ForceRemove '{c7e7969a-0ac9-50ab-9517-08defcd94162}'
                        }
                        NoRemove Stats
                        {
                            ForceRemove '{c7e7969a-0ac9-50ab-9517-08defcd94162}'
                            {
                                iexplore
                                {
                                    AllowedDomains
                                    {
                                        '*'
                                    }
                                    val Count = d '0'
                                }
                            }
                        }
                    }
                }
            }
        }
        NoRemove MozillaPlugins
        {
            '%PLUGINID%'
            {
                val Path = s '%MODULE%'
            }
        }
    }
}
)RGS";

const char* identityValue(const char* key)
{
    for (const VeltraPluginStringPair* pair = PluginIdentity::identityRecord(); pair->key; ++pair)
    {
        if (std::strcmp(pair->key, key) == 0)
            return pair->value;
    }
    return "";
}

} // namespace

const char* const typeLibraryId = "{2db4004b-a002-4f8f-9039-48b9ee4e7d8a}";

const char* registrationScript()
{
    return kScript;
}

registry::ScriptSubstitutions registrationSubstitutions(const std::string& modulePath)
{
    return {
        {"MODULE", modulePath},     {"APPID", identityValue("AppId")}, {"LIBID", typeLibraryId},
        {"THREADING", "Apartment"}, {"PLUGINID", "ombrel.com/Veltra"},
    };
}

} // namespace FB::Com
