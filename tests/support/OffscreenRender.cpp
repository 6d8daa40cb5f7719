#include "OffscreenRender.h"

#include "VirtualDisplay.h"

#include <osg/GraphicsContext>
#include <osgViewer/Viewer>

#include <cstdlib>
#include <sstream>

namespace veltra::test {

namespace {

class CaptureCallback : public osg::Camera::DrawCallback
{
public:
    CaptureCallback(osg::Image* image, int width, int height) : _image(image), _width(width), _height(height) {}

    void operator()(osg::RenderInfo&) const override
    {
        _image->readPixels(0, 0, _width, _height, GL_RGBA, GL_UNSIGNED_BYTE);
    }

private:
    osg::ref_ptr<osg::Image> _image;
    int _width;
    int _height;
};

// A plain window rather than a pbuffer: Mesa's software rasteriser presents through core X
// requests that a pbuffer drawable rejects, which floods the log with X errors.
osg::ref_ptr<osg::GraphicsContext> createContext(int width, int height)
{
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->x = 0;
    traits->y = 0;
    traits->width = width;
    traits->height = height;
    traits->red = traits->green = traits->blue = traits->alpha = 8;
    traits->depth = 24;
    traits->windowDecoration = false;
    traits->doubleBuffer = true;
    traits->readDISPLAY();
    traits->setUndefinedScreenDetailsToDefaultScreen();

    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    return (context && context->valid()) ? context : nullptr;
}

} // namespace

osg::ref_ptr<osg::Image> renderOffscreen(osg::Node* scene, int width, int height,
                                         const std::function<void(osg::Camera&)>& setupCamera, std::string* why)
{
    std::string reason;
    if (!ensureDisplay(&reason))
    {
        if (why)
            *why = reason;
        return nullptr;
    }
    // Mesa's software rasteriser gives the same pixels on every machine.
    ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);

    osg::ref_ptr<osg::GraphicsContext> context = createContext(width, height);
    if (!context)
    {
        if (why)
            *why = "no OpenGL context on display " + std::string(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return nullptr;
    }

    osgViewer::Viewer viewer;
    viewer.setThreadingModel(osgViewer::Viewer::SingleThreaded);
    viewer.setSceneData(scene);

    osg::Camera* camera = viewer.getCamera();
    camera->setGraphicsContext(context.get());
    camera->setViewport(0, 0, width, height);
    camera->setDrawBuffer(GL_BACK);
    camera->setReadBuffer(GL_BACK);
    camera->setProjectionMatrixAsPerspective(30.0, static_cast<double>(width) / height, 1.0, 10000.0);
    camera->setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));

    if (setupCamera)
    {
        setupCamera(*camera);
    }
    else if (scene)
    {
        const osg::BoundingSphere bound = scene->getBound();
        const double distance = bound.radius() * 3.5;
        camera->setViewMatrixAsLookAt(bound.center() + osg::Vec3d(0.0, -distance, 0.0), bound.center(),
                                      osg::Vec3d(0.0, 0.0, 1.0));
    }

    osg::ref_ptr<osg::Image> image = new osg::Image;
    camera->setFinalDrawCallback(new CaptureCallback(image.get(), width, height));

    viewer.realize();
    viewer.frame();
    viewer.frame();
    camera->setFinalDrawCallback(nullptr);
    return image->data() ? image : nullptr;
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
