#include "SimpleSkyNode.h"

#include "SkyGeometry.h"
#include "SunEphemeris.h"

#include <osg/Geode>
#include <osg/Notify>

#include <cmath>

namespace osgEarth {
namespace Util {

namespace {

// Stars and sun sit far outside any orbit a viewer flies, yet close enough for float vertices.
constexpr double kCelestialRadii = 100.0;
constexpr unsigned kStarCount = 4000;
constexpr std::uint32_t kStarSeed = 20240320u;
// Drawn larger than the true half-degree so that the sun reads as a disc on screen.
constexpr double kSunAngularRadiusDeg = 1.0;
// Stars first, then the atmosphere over them; the terrain (default bin) draws over both.
constexpr int kCelestialBin = -110;
constexpr int kAtmosphereBin = -100;

osg::ref_ptr<osg::Geode> geodeOf(osg::Drawable* drawable)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(drawable);
    return geode;
}

} // namespace

SimpleSkyNode::SimpleSkyNode(const SkyOptions& options, MapNode* mapNode) : SkyNode("simple", options, mapNode, 0.03f)
{
    if (isGeocentric())
    {
        buildSkyElements();
    }
    else
    {
        OSG_WARN << "[SkyNode] the simple sky needs a geocentric map; on this projected map it only lights the scene"
                 << std::endl;
    }
    applyInitialDateTime();
}

SimpleSkyNode::~SimpleSkyNode() = default;

void SimpleSkyNode::buildSkyElements()
{
    const double celestialRadius = equatorRadius() * kCelestialRadii;
    _sunDistance = celestialRadius * 0.9;

    osg::ref_ptr<osg::Camera> celestial = makeSkyCamera(kCelestialBin);
    celestial->setName("veltra.sky.celestial");
    _stars = new osg::MatrixTransform;
    _stars->addChild(geodeOf(makeStarField(kStarCount, celestialRadius, kStarSeed).get()));
    celestial->addChild(_stars.get());
    _sun = new osg::MatrixTransform;
    const double sunRadius = _sunDistance * std::tan(osg::DegreesToRadians(kSunAngularRadiusDeg));
    _sun->addChild(geodeOf(makeSunDisc(sunRadius).get()));
    celestial->addChild(_sun.get());
    addChild(celestial.get());

    _sunDirection = new osg::Uniform("veltra_sunDirection", osg::Vec3f(1.0f, 0.0f, 0.0f));
    osg::ref_ptr<osg::Camera> atmosphere = makeSkyCamera(kAtmosphereBin);
    atmosphere->setName("veltra.sky.atmosphere");
    atmosphere->addChild(geodeOf(makeAtmosphere(equatorRadius(), polarRadius(), _sunDirection.get()).get()));
    addChild(atmosphere.get());
}

void SimpleSkyNode::attach(osg::View* view, int lightNum)
{
    SkyNode::attach(view, lightNum);
    if (view && view->getCamera())
    {
        view->getCamera()->setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
    }
}

void SimpleSkyNode::onSetDateTime()
{
    if (!_sun.valid())
    {
        return;
    }
    const osg::Vec3d toSun = sunDirectionECEF(getDateTime());
    _sun->setMatrix(osg::Matrixd::translate(toSun * _sunDistance));
    _sunDirection->set(osg::Vec3f(toSun));
    // The stars are fixed in the sky, which turns westward over the earth by the sidereal angle.
    _stars->setMatrix(osg::Matrixd::rotate(-greenwichSiderealTime(getDateTime()), osg::Vec3d(0.0, 0.0, 1.0)));
}

void SimpleSkyNode::onSetVisibility()
{
    if (_sun.valid())
    {
        _sun->setNodeMask(getSunVisible() ? ~0u : 0u);
        _stars->setNodeMask(getStarsVisible() ? ~0u : 0u);
    }
}

} // namespace Util
} // namespace osgEarth
