#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Node>
#include <osg/Vec4f>

#include <string>

namespace SolvoEarthUtil {

/// Paints `node` in one flat colour: a fragment program that writes `color`, forced over the
/// subtree, with blending on. Nothing for a null node.
SOLVOEARTHUTIL_EXPORT void setModelHighLight(osg::Node* node, const osg::Vec4f& color);

/// Removes the program and the blending mode from the node's state set (whatever set the
/// blending). Nothing for a null node.
SOLVOEARTHUTIL_EXPORT void removeModelHighLight(osg::Node* node);

/// The fragment shader source that paints `color`, each component written with six decimals.
SOLVOEARTHUTIL_EXPORT std::string highLightShaderSource(const osg::Vec4f& color);

} // namespace SolvoEarthUtil
