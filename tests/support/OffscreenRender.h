#pragma once

#include <osg/Camera>
#include <osg/Image>
#include <osg/Node>
#include <osg/Vec4ub>

#include <functional>
#include <string>

namespace veltra::test {

/// Renders `scene` into an off-screen buffer of `width` x `height` pixels on the test display
/// and returns the colour buffer (RGBA, row 0 at the bottom). `setupCamera` places the camera;
/// without it the camera looks at the scene's bounds. Null when no OpenGL context can be made,
/// with the reason in `why`.
osg::ref_ptr<osg::Image> renderOffscreen(osg::Node* scene, int width, int height,
                                         const std::function<void(osg::Camera&)>& setupCamera = {},
                                         std::string* why = nullptr);

/// The pixel at (x, y), row 0 at the bottom.
osg::Vec4ub pixelAt(const osg::Image& image, int x, int y);

/// True when every channel of `actual` is within `tolerance` of `expected` (alpha ignored).
bool colourNear(const osg::Vec4ub& actual, const osg::Vec4ub& expected, int tolerance = 8);

/// "(r, g, b, a)", for failure messages.
std::string describe(const osg::Vec4ub& colour);

} // namespace veltra::test
