#include <SolvoEarthKits/hud/ScreenInfo.h>

#include <SolvoEarthKits/hud/HudFont.h>

#include <osg/Geode>

ScreenInfo::ScreenInfo()
{
    setProjectionMatrix(osg::Matrix::ortho2D(0.0, 3840.0, 0.0, 2160.0));
    setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    setViewMatrix(osg::Matrix::identity());
    // Keeps the scene's colours underneath and draws over them.
    setClearMask(GL_DEPTH_BUFFER_BIT);
    setRenderOrder(osg::Camera::POST_RENDER);
    setAllowEventFocus(false);

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    addChild(geode.get());

    _text = new osgText::Text;
    _text->setFont(SolvoEarthUtil::hudFontFile("msyh.ttc"));
    _text->setCharacterSize(40.0f);
    _text->setColor(osg::Vec4(0.0f, 0.5f, 1.0f, 1.0f));
    _text->setDataVariance(osg::Object::DYNAMIC);
    geode->addDrawable(_text.get());
}

ScreenInfo::~ScreenInfo() = default;

void ScreenInfo::setInfo(const std::string& text)
{
    _text->setText(text, osgText::String::ENCODING_UTF8);
    _text->dirtyDisplayList();
}
