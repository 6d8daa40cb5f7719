#include <SolvoEarthKits/hud/ScreenInfoLB.h>

ScreenInfoLB::ScreenInfoLB()
{
    _text->setAlignment(osgText::Text::LEFT_BOTTOM);
}

ScreenInfoLB::~ScreenInfoLB() = default;

osg::Vec3 ScreenInfoLB::anchor(float, float, float margin) const
{
    return osg::Vec3(margin, margin, 0.0f);
}
