#pragma once

#include <cstdint>
#include <vector>

namespace veltra::host {

/// A window picture as 8-bit RGB triples, top row first.
struct RgbPicture
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

enum class PictureFormat
{
    Png,
    Jpeg,
};

/// Encodes through OpenSceneGraph's image plug-ins. `quality` (JPEG only) is clamped to 1..100.
/// Throws CaptureError for an empty or inconsistent picture or when the plug-in is missing or
/// fails.
std::vector<std::uint8_t> encodePicture(const RgbPicture& picture, PictureFormat format, int quality = 80);

} // namespace veltra::host
