#include <SolvoEarthKits/hud/HudText.h>

#include <algorithm>
#include <cmath>

namespace SolvoEarthUtil {

const osg::Vec4 kHudTextColour(0.95f, 0.97f, 1.0f, 1.0f);
const osg::Vec4 kHudOutlineColour(0.0f, 0.0f, 0.0f, 1.0f);
const osg::Vec4 kHudBackingColour(0.04f, 0.06f, 0.12f, 0.7f);

float hudTextHeight(float windowHeight)
{
    if (!(windowHeight > 0.0f))
        return kHudTextMin;
    return std::clamp(std::round(windowHeight / 30.0f), kHudTextMin, kHudTextMax);
}

void styleHudText(osgText::Text& text, float height, bool backingBox)
{
    // Glyph textures a little above the drawn size: scaled down they stay crisp, scaled up blurry.
    const unsigned int resolution = static_cast<unsigned int>(std::ceil(height * 1.25f));
    if (text.getFontWidth() != resolution)
        text.setFontResolution(resolution, resolution);
    if (text.getCharacterHeight() != height)
        text.setCharacterSize(height);
    text.setColor(kHudTextColour);
    text.setBackdropType(osgText::Text::OUTLINE);
    text.setBackdropColor(kHudOutlineColour);
    text.setBackdropOffset(0.06f);
    if (backingBox)
    {
        text.setDrawMode(osgText::Text::TEXT | osgText::Text::FILLEDBOUNDINGBOX);
        text.setBoundingBoxColor(kHudBackingColour);
        text.setBoundingBoxMargin(height * 0.3f);
    }
}

} // namespace SolvoEarthUtil
