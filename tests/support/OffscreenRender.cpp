#include "OffscreenRender.h"

#include "ViewerHarness.h"

#include <cstdlib>
#include <sstream>

namespace veltra::test {

osg::ref_ptr<osg::Image> renderOffscreen(osg::Node* scene, int width, int height,
                                         const std::function<void(osg::Camera&)>& setupCamera, std::string* why)
{
    ViewerHarness harness(width, height);
    if (!harness.valid())
    {
        if (why)
            *why = harness.why();
        return nullptr;
    }
    harness.setScene(scene);

    // Unlike the interactive harness, near and far follow the scene, so large scenes such as a
    // sky sphere are not clipped.
    osg::Camera* camera = harness.viewer().getCamera();
    camera->setComputeNearFarMode(osg::CullSettings::COMPUTE_NEAR_FAR_USING_BOUNDING_VOLUMES);
    camera->setProjectionMatrixAsPerspective(30.0, static_cast<double>(width) / height, 1.0, 10000.0);
    if (setupCamera)
    {
        setupCamera(*camera);
    }
    else if (scene)
    {
        const osg::BoundingSphere bound = scene->getBound();
        const double distance = bound.radius() * 3.5;
        harness.lookAt(bound.center() + osg::Vec3d(0.0, -distance, 0.0), bound.center(), osg::Vec3d(0.0, 0.0, 1.0));
    }

    harness.frame();
    return harness.capture();
}

osg::Vec4ub pixelAt(const osg::Image& image, int x, int y)
{
    const unsigned char* p = image.data(x, y);
    return osg::Vec4ub(p[0], p[1], p[2], p[3]);
}

bool colourNear(const osg::Vec4ub& actual, const osg::Vec4ub& expected, int tolerance)
{
    for (int i = 0; i < 3; ++i)
        if (std::abs(static_cast<int>(actual[i]) - static_cast<int>(expected[i])) > tolerance)
            return false;
    return true;
}

std::string describe(const osg::Vec4ub& colour)
{
    std::ostringstream out;
    out << '(' << int(colour[0]) << ", " << int(colour[1]) << ", " << int(colour[2]) << ", " << int(colour[3]) << ')';
    return out.str();
}

} // namespace veltra::test
