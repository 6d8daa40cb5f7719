#pragma once

#include <osg/Vec4ub>

#include <string>

namespace osgEarth::Terrain {

/// "#rrggbb" or "#rrggbbaa" (hex digits, either case) as a colour; `fallback` for anything else.
osg::Vec4ub parseHtmlColour(const std::string& text, const osg::Vec4ub& fallback);

} // namespace osgEarth::Terrain
