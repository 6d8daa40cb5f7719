#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Node>

#include <string>

namespace SolvoEarthUtil {

/// Builds a sky box from the six images "posX.jpg", "negX.jpg", "posY.jpg", "negY.jpg",
/// "posZ.jpg", "negZ.jpg" found under `folder`, which is used as a plain prefix and so ends with
/// a path separator. When any image is missing the sky box is still built, with an empty cube
/// map. The caller takes over the returned node.
SOLVOEARTHUTIL_EXPORT osg::Node* createSkyBox(std::string folder);

} // namespace SolvoEarthUtil
