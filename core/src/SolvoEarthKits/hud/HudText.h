#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osgText/Text>

namespace SolvoEarthUtil {

/// Text heights of the head-up panels, in pixels: a thirtieth of the window's height, never
/// below kHudTextMin (readable at 960 x 600 and smaller) nor above kHudTextMax (a 4K screen
/// would otherwise get letters of 70 pixels).
constexpr float kHudTextMin = 14.0f;
constexpr float kHudTextMax = 40.0f;
SOLVOEARTHKITS_EXPORT float hudTextHeight(float windowHeight);

/// The colours every panel text uses, whatever the scene behind it: light letters with a dark
/// outline, on a dark, partly transparent box.
SOLVOEARTHKITS_EXPORT extern const osg::Vec4 kHudTextColour;
SOLVOEARTHKITS_EXPORT extern const osg::Vec4 kHudOutlineColour;
SOLVOEARTHKITS_EXPORT extern const osg::Vec4 kHudBackingColour;

/// Gives `text` those colours and sizes it to `height` pixels (glyphs rendered at about that
/// size, so that they stay sharp). `backingBox` draws the box behind the text; leave it off where
/// the text sits on a widget that already has one.
SOLVOEARTHKITS_EXPORT void styleHudText(osgText::Text& text, float height, bool backingBox);

} // namespace SolvoEarthUtil
