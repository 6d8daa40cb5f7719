#include <SolvoEarthKits/hud/ScreenInfo.h>

#include <SolvoEarthKits/hud/HudFont.h>
#include <SolvoEarthKits/hud/HudText.h>

#include <osg/Geode>
#include <osgUtil/CullVisitor>

namespace {

// The camera has no viewport of its own, so the one on the cull visitor's stack is the window's
// (or whatever the panel's parent camera draws into). Sizing here, rather than on resize events,
// also covers off-screen viewers and the very first frame; the children are culled after this,
// so the new size is drawn in the same frame.
class FollowViewport : public osg::NodeCallback
{
public:
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        osgUtil::CullVisitor* cull = visitor ? visitor->asCullVisitor() : nullptr;
        if (cull && cull->getViewport())
        {
            const osg::Viewport* viewport = cull->getViewport();
            static_cast<ScreenInfo*>(node)->layout(static_cast<int>(viewport->width()),
                                                   static_cast<int>(viewport->height()));
        }
        traverse(node, visitor);
    }
};

} // namespace

ScreenInfo::ScreenInfo()
{
    setProjectionMatrix(osg::Matrix::identity());
    setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    setViewMatrix(osg::Matrix::identity());
    setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    // Keeps the scene's colours underneath and draws over them.
    setClearMask(GL_DEPTH_BUFFER_BIT);
    setRenderOrder(osg::Camera::POST_RENDER);
    setAllowEventFocus(false);
    setCullCallback(new FollowViewport);

    _pixels = new osg::MatrixTransform;
    _pixels->setDataVariance(osg::Object::DYNAMIC);
    addChild(_pixels.get());

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    geode->getOrCreateStateSet()->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
    _pixels->addChild(geode.get());

    _text = new osgText::Text;
    _text->setFont(SolvoEarthUtil::hudFontFile("msyh.ttc"));
    _text->setDataVariance(osg::Object::DYNAMIC);
    SolvoEarthUtil::styleHudText(*_text, SolvoEarthUtil::kHudTextMin, true);
    geode->addDrawable(_text.get());
}

ScreenInfo::~ScreenInfo() = default;

void ScreenInfo::setInfo(const std::string& text)
{
    _text->setText(text, osgText::String::ENCODING_UTF8);
    _text->dirtyDisplayList();
}

void ScreenInfo::layout(int width, int height)
{
    if (width <= 0 || height <= 0 || (width == _width && height == _height))
        return;
    _width = width;
    _height = height;
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    _pixels->setMatrix(osg::Matrix::scale(2.0 / w, 2.0 / h, 1.0) * osg::Matrix::translate(-1.0, -1.0, 0.0));

    const float textHeight = SolvoEarthUtil::hudTextHeight(h);
    SolvoEarthUtil::styleHudText(*_text, textHeight, true);
    // Only a line that would leave the view wraps: every extra line pushes the panel further
    // down over the model.
    _text->setMaximumWidth(w * 0.9f);
    _text->setPosition(anchor(w, h, textHeight * 0.3f + 8.0f));
    _text->dirtyDisplayList();
}
