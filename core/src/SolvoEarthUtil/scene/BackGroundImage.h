#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Camera>
#include <osg/Image>

namespace SolvoEarthUtil {

/// A camera that draws `image` over the whole window after the scene, at the far plane, so the
/// picture shows only where nothing else was drawn. The caller takes over the returned camera.
SOLVOEARTHUTIL_EXPORT osg::Camera* createBackGroundImage(osg::Image* image);

} // namespace SolvoEarthUtil
