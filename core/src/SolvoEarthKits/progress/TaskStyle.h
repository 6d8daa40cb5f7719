#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Group>
#include <osg/Program>

namespace SolvoEarthUtil {

class TintPrograms;

// Styling of a task's geometry: each helper works on the children (geodes) of a task group, on
// each child's own state set (created when missing).

/// Sets the node mask of every child: 0 hides it from all traversals, 0xFFFFFFFF shows it.
/// Nothing for a null group.
SOLVOEARTHKITS_EXPORT void setChildMasks(osg::Group* group, osg::Node::NodeMask mask);

/// Recolours every child in one false colour drawn over everything else: 1 purple, 2 green,
/// 3 blue (luminance of the vertex colour, alpha kept; blended, no depth test, bin 11).
/// Style 0 removes a tint, and with it any blending mode that applyAlpha set. Each child gets the
/// program of `shared` when given, else a program of its own. Nothing for a null or empty group.
SOLVOEARTHKITS_EXPORT void applyTint(osg::Group* group, int style, TintPrograms* shared = nullptr);

/// Draws every child with the constant opacity `alpha` (1 opaque, 0 invisible) whatever its own
/// colours. Nothing for a null group.
SOLVOEARTHKITS_EXPORT void applyAlpha(osg::Group* group, float alpha);

/// The fragment shader source of tint style 1, 2 or 3; null for any other style.
SOLVOEARTHKITS_EXPORT const char* tintShaderSource(int style);

/// A new program holding one fragment shader of `style`'s source; null for an unknown style.
SOLVOEARTHKITS_EXPORT osg::ref_ptr<osg::Program> makeTintProgram(int style);

} // namespace SolvoEarthUtil
