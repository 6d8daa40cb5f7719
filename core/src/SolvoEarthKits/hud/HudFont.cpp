#include <SolvoEarthKits/hud/HudFont.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgText/Font>

#include <map>
#include <mutex>

namespace SolvoEarthUtil {

namespace {

// CJK fonts of common Linux distributions, best first: the dependency script installs the first.
const char* const kFallbacks[] = {
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",         "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc",
    "/usr/share/fonts/noto-cjk/NotoSansCJK-Regular.ttc",
};

// The font file named `file` itself, not a stand-in: on Linux the font search asks fontconfig,
// which answers any name with some installed font, often one without Chinese glyphs.
bool readable(const std::string& file)
{
    const std::string found = osgText::findFontFile(file);
    if (found.empty() || osgDB::convertToLowerCase(osgDB::getSimpleFileName(found)) !=
                             osgDB::convertToLowerCase(osgDB::getSimpleFileName(file)))
        return false;
    return osgText::readRefFontFile(found).valid();
}

std::string choose(const std::string& preferred)
{
    if (readable(preferred))
    {
        OSG_INFO << "[HudFont] using " << preferred << std::endl;
        return preferred;
    }
    for (const char* fallback : kFallbacks)
    {
        if (readable(fallback))
        {
            OSG_NOTICE << "[HudFont] " << preferred << " not found, using " << fallback << std::endl;
            return fallback;
        }
    }
    OSG_WARN << "[HudFont] neither " << preferred << " nor a CJK font was found; Chinese text will not show"
             << std::endl;
    return preferred;
}

} // namespace

std::string hudFontFile(const std::string& preferred)
{
    static std::mutex mutex;                          // guards chosen
    static std::map<std::string, std::string> chosen; // preferred name -> file used
    std::lock_guard<std::mutex> lock(mutex);
    auto found = chosen.find(preferred);
    if (found == chosen.end())
        found = chosen.emplace(preferred, choose(preferred)).first;
    return found->second;
}

} // namespace SolvoEarthUtil
