#include <SolvoEarthKits/hud/ScreenInfoLT.h>

ScreenInfoLT::ScreenInfoLT()
{
    _text->setPosition(osg::Vec3(10.0f, 2150.0f, 0.0f));
    _text->setAlignment(osgText::Text::LEFT_TOP);
}

ScreenInfoLT::~ScreenInfoLT() = default;
