#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>
#include <SolvoEarthKits/hud/ScreenInfo.h>

/// A head-up text panel in the upper left corner of the view.
class SOLVOEARTHKITS_EXPORT ScreenInfoLT : public ScreenInfo
{
public:
    ScreenInfoLT();

protected:
    ~ScreenInfoLT() override;
    osg::Vec3 anchor(float width, float height, float margin) const override;
};
