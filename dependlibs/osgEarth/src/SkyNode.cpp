#include <osgEarthUtil/Sky>

#include "GLSkyNode.h"
#include "SimpleSkyNode.h"
#include "SunEphemeris.h"

#include <osgEarth/MapNode>
#include <osgEarth/StringUtils>

#include <osg/CoordinateSystemNode>
#include <osg/LightModel>
#include <osg/Notify>

#include <algorithm>
#include <cmath>

namespace osgEarth {
namespace Util {

namespace {

// Fixed-function GL guarantees eight lights; a larger number would address a light that does not exist.
constexpr int kMaxLightNum = 7;

float ambientLevel(const SkyOptions& options, float defaultAmbient)
{
    if (!options.ambient().isSet() || !std::isfinite(options.ambient().get()))
    {
        return defaultAmbient;
    }
    return std::clamp(options.ambient().get(), 0.0f, 1.0f);
}

// Columns east, north and up at (lon, lat): a row vector in ECEF times this matrix gives local components.
osg::Matrixd ecefToLocalTangent(double longitudeDeg, double latitudeDeg)
{
    const double lon = osg::DegreesToRadians(longitudeDeg);
    const double lat = osg::DegreesToRadians(latitudeDeg);
    const osg::Vec3d east(-std::sin(lon), std::cos(lon), 0.0);
    const osg::Vec3d north(-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat));
    const osg::Vec3d up(std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat));
    return osg::Matrixd(east.x(), north.x(), up.x(), 0.0, east.y(), north.y(), up.y(), 0.0, east.z(), north.z(), up.z(),
                        0.0, 0.0, 0.0, 0.0, 1.0);
}

// The geographic centre of a projected map's profile; (0, 0) when it cannot be worked out.
void profileCentre(const MapNode& mapNode, double& longitude, double& latitude)
{
    longitude = latitude = 0.0;
    const Map* map = mapNode.getMap();
    const Profile* profile = map ? map->getProfile() : nullptr;
    if (!profile || !profile->getSRS())
    {
        return;
    }
    double x = 0.0, y = 0.0;
    const SpatialReference* srs = profile->getSRS();
    const SpatialReference* geographic = srs->getGeographicSRS();
    if (!geographic || !profile->getExtent().getCentroid(x, y) ||
        !srs->transform2D(x, y, geographic, longitude, latitude))
    {
        OSG_WARN << "[SkyNode] cannot place the projected map's centre on the earth; lighting as at 0N 0E" << std::endl;
        longitude = latitude = 0.0;
    }
}

} // namespace

SkyNode::SkyNode(const std::string& driverName, const SkyOptions& options, MapNode* mapNode, float defaultAmbient)
    : _driverName(driverName), _options(options), _light(new osg::Light)
{
    if (mapNode)
    {
        _geocentric = mapNode->isGeocentric();
        const SpatialReference* srs = mapNode->getMapSRS();
        if (srs && srs->getEllipsoid())
        {
            _equatorRadius = srs->getEllipsoid()->getRadiusEquator();
            _polarRadius = srs->getEllipsoid()->getRadiusPolar();
        }
        if (!_geocentric)
        {
            double longitude = 0.0, latitude = 0.0;
            profileCentre(*mapNode, longitude, latitude);
            _ecefToLocal = ecefToLocalTangent(longitude, latitude);
        }
    }
    else
    {
        OSG_INFO << "[SkyNode] no map node; the " << driverName << " sky assumes a geocentric WGS84 earth" << std::endl;
    }

    const float ambient = ambientLevel(_options, defaultAmbient);
    _light->setLightNum(0);
    _light->setAmbient(osg::Vec4(ambient, ambient, ambient, 1.0f));
    _light->setDiffuse(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));
    _light->setSpecular(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));

    osg::StateSet* stateSet = getOrCreateStateSet();
    stateSet->setMode(GL_LIGHTING, osg::StateAttribute::ON);
    // GL's default scene ambient (0.2) would swamp the sun's: the light alone sets the darkest night.
    osg::ref_ptr<osg::LightModel> lightModel = new osg::LightModel;
    lightModel->setAmbientIntensity(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
    stateSet->setAttributeAndModes(lightModel.get(), osg::StateAttribute::ON);

    updateSunLight();
}

SkyNode::~SkyNode() = default;

SkyNode* SkyNode::create(const SkyOptions& options, MapNode* mapNode)
{
    std::string driver = toLower(trim(options.getDriver()));
    if (driver.empty())
    {
        driver = "simple";
    }
    osg::ref_ptr<SkyNode> sky;
    if (driver == "simple")
    {
        sky = new SimpleSkyNode(options, mapNode);
    }
    else if (driver == "gl")
    {
        sky = new GLSkyNode(options, mapNode);
    }
    else
    {
        OSG_WARN << "[SkyNode] no sky driver named \"" << options.getDriver() << "\" (known: simple, gl)" << std::endl;
        return nullptr;
    }
    return sky.release();
}

SkyNode* SkyNode::create(MapNode* mapNode)
{
    return create(SkyOptions(), mapNode);
}

SkyNode* SkyNode::create(const std::string& driver, MapNode* mapNode)
{
    SkyOptions options;
    options.setDriver(driver);
    return create(options, mapNode);
}

void SkyNode::applyInitialDateTime()
{
    if (!_options.hours().isSet())
    {
        setDateTime(DateTime::now());
        return;
    }
    const float hours = _options.hours().get();
    const DateTime today = DateTime::now();
    setDateTime(DateTime(today.year(), today.month(), today.day(),
                         std::isfinite(hours) ? std::clamp(static_cast<double>(hours), 0.0, 24.0) : 0.0));
}

void SkyNode::attach(osg::View* view, int lightNum)
{
    if (!view)
    {
        return;
    }
    if (lightNum < 0 || lightNum > kMaxLightNum)
    {
        OSG_WARN << "[SkyNode] light number " << lightNum << " is outside 0-" << kMaxLightNum << "; using 0"
                 << std::endl;
        lightNum = 0;
    }
    _light->setLightNum(lightNum);
    view->setLight(_light.get());
    view->setLightingMode(osg::View::SKY_LIGHT);
}

void SkyNode::setDateTime(const DateTime& dateTime)
{
    _dateTime = dateTime;
    updateSunLight();
    onSetDateTime();
}

void SkyNode::setSunVisible(bool visible)
{
    _sunVisible = visible;
    onSetVisibility();
}

void SkyNode::setMoonVisible(bool visible)
{
    _moonVisible = visible;
    onSetVisibility();
}

void SkyNode::setStarsVisible(bool visible)
{
    _starsVisible = visible;
    onSetVisibility();
}

void SkyNode::setLighting(osg::StateAttribute::OverrideValue value)
{
    getOrCreateStateSet()->setMode(GL_LIGHTING, value);
}

void SkyNode::updateSunLight()
{
    osg::Vec3d toSun = sunDirectionECEF(_dateTime);
    if (!_geocentric)
    {
        toSun = osg::Matrixd::transform3x3(toSun, _ecefToLocal);
    }
    toSun.normalize();
    _light->setPosition(osg::Vec4(osg::Vec3(toSun), 0.0f));
    // A directional light shines away from its position.
    _light->setDirection(osg::Vec3(-toSun));
}

} // namespace Util
} // namespace osgEarth
