#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>
#include <SolvoEarthKits/hud/ScreenInfo.h>

/// A head-up text panel in the lower left corner of the view.
class SOLVOEARTHKITS_EXPORT ScreenInfoLB : public ScreenInfo
{
public:
    ScreenInfoLB();

protected:
    ~ScreenInfoLB() override;
    osg::Vec3 anchor(float width, float height, float margin) const override;
};
