#pragma once

#include <osgEarthUtil/Sky>

#include <osg/Camera>
#include <osg/MatrixTransform>
#include <osg/Uniform>

namespace osgEarth {
namespace Util {

/// The "simple" sky: on a geocentric map an atmosphere shell, a sun disc and a star field drawn behind the terrain,
/// plus the sun light; on a projected map the light only. The moon is not drawn (no moon imagery ships with us), so
/// setMoonVisible() only records the choice.
class SimpleSkyNode : public SkyNode
{
public:
    SimpleSkyNode(const SkyOptions& options, MapNode* mapNode);

    /// Also clears the view to opaque black, the colour of space behind the atmosphere.
    void attach(osg::View* view, int lightNum) override;

protected:
    ~SimpleSkyNode() override;

    void onSetDateTime() override;
    void onSetVisibility() override;

private:
    void buildSkyElements();

    osg::ref_ptr<osg::MatrixTransform> _stars;
    osg::ref_ptr<osg::MatrixTransform> _sun;
    osg::ref_ptr<osg::Uniform> _sunDirection;
    double _sunDistance = 0.0;
};

} // namespace Util
} // namespace osgEarth
