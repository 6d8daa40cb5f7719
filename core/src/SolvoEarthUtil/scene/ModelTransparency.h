#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Node>

namespace SolvoEarthUtil {

/// Blends `node` with the constant alpha `alpha` (1 opaque, 0 invisible), drawn in the
/// transparent bin after opaque geometry. Nothing for a null node.
SOLVOEARTHUTIL_EXPORT void setModelTranspareny(osg::Node* node, float alpha);

/// Undoes setModelTranspareny; clears the blending mode whatever set it. Nothing for a null node.
SOLVOEARTHUTIL_EXPORT void removeModelTranspareny(osg::Node* node);

} // namespace SolvoEarthUtil
