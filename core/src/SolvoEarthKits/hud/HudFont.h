#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <string>

namespace SolvoEarthUtil {

/// The font file that on-screen texts should ask for in place of `preferred`: `preferred` itself
/// when OpenSceneGraph finds and reads that very file, else the first installed CJK font that it can read (so Chinese
/// labels keep their glyphs where the Windows fonts are missing), else `preferred` unchanged.
/// The choice for each name is made once and logged once. Safe to call from several threads.
SOLVOEARTHKITS_EXPORT std::string hudFontFile(const std::string& preferred);

} // namespace SolvoEarthUtil
