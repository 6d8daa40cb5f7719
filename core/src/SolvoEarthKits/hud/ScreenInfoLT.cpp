#include <SolvoEarthKits/hud/ScreenInfoLT.h>

ScreenInfoLT::ScreenInfoLT()
{
    _text->setAlignment(osgText::Text::LEFT_TOP);
}

ScreenInfoLT::~ScreenInfoLT() = default;

osg::Vec3 ScreenInfoLT::anchor(float, float height, float margin) const
{
    return osg::Vec3(margin, height - margin, 0.0f);
}
