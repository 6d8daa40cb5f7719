#include <SolvoEarthKits/hud/ScreenInfoLB.h>

ScreenInfoLB::ScreenInfoLB()
{
    _text->setPosition(osg::Vec3(10.0f, 10.0f, 0.0f));
    _text->setAlignment(osgText::Text::LEFT_BOTTOM_BASE_LINE);
}

ScreenInfoLB::~ScreenInfoLB() = default;
