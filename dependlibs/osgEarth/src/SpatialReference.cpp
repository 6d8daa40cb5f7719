#include <osgEarth/SpatialReference>
#include <osgEarth/StringUtils>

#include <cpl_error.h>
#include <cpl_conv.h>
#include <ogr_spatialref.h>

#include <osg/Math>
#include <osg/Notify>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

using namespace osgEarth;

namespace {

const double kWgs84Equator = osg::WGS_84_RADIUS_EQUATOR;
// The latitude at which web mercator's square world ends (y = ±20037508.34 m).
constexpr double kMercatorMaxLatitude = 85.05112877980659;

const char* const kSphericalMercatorProj = "+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 "
                                           "+units=m +nadgrids=@null +wktext +no_defs";
const char* const kPlateCarreProj = "+proj=eqc +lat_ts=0 +lat_0=0 +lon_0=0 +x_0=0 +y_0=0 +ellps=WGS84 +datum=WGS84 "
                                    "+units=m +no_defs";

// Heights stay ellipsoidal whatever vertical datum is named, so "none" and "" mean the same thing.
std::string normalisedVertical(const std::string& vert)
{
    std::string key = toLower(trim(vert));
    return key == "none" ? std::string() : key;
}

bool isFinite(const osg::Vec3d& v)
{
    return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}

bool isSphericalMercatorAlias(const std::string& key)
{
    return key == "spherical-mercator" || key == "epsg:900913" || key == "epsg:3785" || key == "epsg:102113" ||
           key == "epsg:3857" || key == "epsg:102100";
}

bool isWellKnownName(const std::string& key)
{
    return key == "wgs84" || key == "epsg:4326" || key == "plate-carre" || key == "geocentric" || key == "ecef" ||
           isSphericalMercatorAlias(key);
}

// GDAL reports parse failures through its global error handler (stderr by default); an unknown init text is an
// ordinary "no" for us, so silence it for the current thread while we parse.
struct QuietGdalErrors
{
    QuietGdalErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietGdalErrors() { CPLPopErrorHandler(); }
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

OGRSpatialReference wgs84Ogr()
{
    OGRSpatialReference srs;
    srs.SetWellKnownGeogCS("WGS84");
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

std::string exportWkt(const OGRSpatialReference& srs)
{
    char* text = nullptr;
    std::string wkt;
    if (srs.exportToWkt(&text) == OGRERR_NONE && text)
        wkt = text;
    CPLFree(text);
    return wkt;
}

// ECEF → geodetic. OpenSceneGraph's own inverse loses precision near the poles (it divides by cos(latitude)), so
// we refine Bowring's estimate and take the height from a formula that stays well conditioned everywhere.
void ecefToGeodetic(const osg::EllipsoidModel& ellipsoid, const osg::Vec3d& xyz, double& latitude, double& longitude,
                    double& height)
{
    const double a = ellipsoid.getRadiusEquator();
    const double b = ellipsoid.getRadiusPolar();
    const double e2 = 1.0 - (b * b) / (a * a);
    const double ep2 = (a * a - b * b) / (b * b);
    const double x = xyz.x(), y = xyz.y(), z = xyz.z();
    const double p = std::hypot(x, y);

    longitude = std::atan2(y, x);
    if (p == 0.0)
    {
        // On the axis (or at the centre): the latitude is a pole's and the height is measured along the axis.
        latitude = z >= 0.0 ? osg::PI_2 : -osg::PI_2;
        height = std::fabs(z) - b;
        return;
    }
    const double theta = std::atan2(z * a, p * b);
    const double st = std::sin(theta), ct = std::cos(theta);
    latitude = std::atan2(z + ep2 * b * st * st * st, p - e2 * a * ct * ct * ct);

    for (int i = 0; i < 3; ++i)
    {
        const double s = std::sin(latitude);
        const double n = a / std::sqrt(1.0 - e2 * s * s);
        const double h = p * std::cos(latitude) + z * s - (a * a) / n;
        if (n + h <= 0.0)
            break; // deep inside the earth: the refinement has no meaning there
        latitude = std::atan2(z, p * (1.0 - e2 * n / (n + h)));
    }
    const double s = std::sin(latitude);
    const double n = a / std::sqrt(1.0 - e2 * s * s);
    height = p * std::cos(latitude) + z * s - (a * a) / n;
}

} // namespace

struct SpatialReference::Ogr
{
    // Guards every use of `srs` and `transforms`: GDAL's objects are not safe for concurrent use, even when reading.
    std::mutex mutex;
    OGRSpatialReference srs;
    // Transformations from this SRS's definition to other systems' definitions, built on first use. A null entry
    // remembers that GDAL could not build one.
    std::map<const SpatialReference*, std::unique_ptr<OGRCoordinateTransformation>> transforms;
};

SpatialReference::SpatialReference() : _ogr(std::make_unique<Ogr>())
{}

SpatialReference::~SpatialReference() = default;

SpatialReference* SpatialReference::create(const std::string& horiz, const std::string& vert)
{
    // Every SRS ever created stays here until the process ends; derived-SRS links rely on that.
    static std::mutex cacheMutex; // guards cache
    static std::map<std::string, osg::ref_ptr<SpatialReference>> cache;

    const std::string key = toLower(trim(horiz)) + '\n' + normalisedVertical(vert);
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        auto found = cache.find(key);
        if (found != cache.end())
            return found->second.get();
    }

    // Built outside the lock: GDAL parsing can be slow, and building may need other SRSs from the cache.
    osg::ref_ptr<SpatialReference> built = build(horiz, vert);
    if (!built)
        return nullptr;

    std::lock_guard<std::mutex> lock(cacheMutex);
    auto inserted = cache.emplace(key, built); // another thread may have won the race: keep its object
    return inserted.first->second.get();
}

osg::ref_ptr<SpatialReference> SpatialReference::build(const std::string& horiz, const std::string& vert)
{
    const std::string key = toLower(trim(horiz));
    if (key.empty())
        return nullptr;

    osg::ref_ptr<SpatialReference> srs = new SpatialReference();
    // Names we know are kept in their canonical spelling, so that what callers read back does not depend on which
    // caller happened to create the shared object first; other texts are kept as passed.
    srs->_horizInit = isWellKnownName(key) ? key : horiz;
    // A named vertical datum (egm96, ...) is accepted but not applied: heights stay above the ellipsoid. Geoid
    // grids are not shipped with the system, and nothing it draws depends on mean-sea-level heights.
    srs->_vertInit = vert;
    OGRSpatialReference& ogr = srs->_ogr->srs;
    QuietGdalErrors quiet;

    OGRErr err = OGRERR_NONE;
    if (key == "wgs84" || key == "epsg:4326")
    {
        err = ogr.SetWellKnownGeogCS("WGS84");
        srs->_name = "WGS84";
    }
    else if (isSphericalMercatorAlias(key))
    {
        err = ogr.importFromProj4(kSphericalMercatorProj);
        srs->_projection = Projection::SphericalMercator;
        srs->_name = "Spherical Mercator";
    }
    else if (key == "plate-carre")
    {
        err = ogr.importFromProj4(kPlateCarreProj);
        srs->_projection = Projection::PlateCarre;
        srs->_name = "Plate Carre";
    }
    else if (key == "geocentric" || key == "ecef")
    {
        OGRSpatialReference wgs84 = wgs84Ogr();
        err = ogr.SetGeocCS("WGS 84 (geocentric)");
        if (err == OGRERR_NONE)
            err = ogr.CopyGeogCSFrom(&wgs84);
        srs->_name = "ECEF";
    }
    else
    {
        // Limitations keep an init text from opening files or reaching the network.
        err = ogr.SetFromUserInput(horiz.c_str(), OGRSpatialReference::SET_FROM_USER_INPUT_LIMITATIONS_get());
    }
    if (err != OGRERR_NONE)
        return nullptr;

    // Traditional GIS order: x is longitude/easting whatever the authority says.
    ogr.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);

    if (ogr.IsGeocentric())
        srs->_kind = Kind::Ecef;
    else if (ogr.IsGeographic())
        srs->_kind = Kind::Geographic;
    else if (ogr.IsProjected())
        srs->_kind = Kind::Projected;
    else
        return nullptr; // vertical-only, engineering or other systems we cannot place on the globe

    const OGRSpatialReference wgs84 = wgs84Ogr();
    if (srs->_projection == Projection::SphericalMercator)
    {
        // The sphere is only the projection's arithmetic; the datum underneath is WGS84.
        srs->_wgs84Datum = true;
        srs->_mercator = true;
    }
    else
    {
        // Compared through the geographic part, which geocentric systems do not answer IsSameGeogCS for directly.
        std::unique_ptr<OGRSpatialReference> geog(ogr.CloneGeogCS());
        srs->_wgs84Datum = geog && geog->IsSameGeogCS(&wgs84) != 0;
        // Plain mercator only: transverse and oblique mercator do not draw meridians as straight vertical lines.
        const std::string projection =
            toLower(trim(ogr.GetAttrValue("PROJECTION") ? ogr.GetAttrValue("PROJECTION") : ""));
        srs->_mercator = projection.rfind("mercator", 0) == 0 || projection == "popular_visualisation_pseudo_mercator";
    }

    double semiMajor = ogr.GetSemiMajor();
    double semiMinor = ogr.GetSemiMinor();
    if (srs->_wgs84Datum || !(semiMajor > 0.0) || !(semiMinor > 0.0))
        srs->_ellipsoid = new osg::EllipsoidModel(); // WGS84 radii
    else
        srs->_ellipsoid = new osg::EllipsoidModel(semiMajor, semiMinor);

    if (srs->_name.empty())
    {
        const char* name = ogr.GetName();
        srs->_name = name && *name ? name : horiz;
    }
    srs->_wkt = exportWkt(ogr);
    return srs;
}

const SpatialReference* SpatialReference::getGeographicSRS() const
{
    std::call_once(_geographicOnce, [this] {
        if (isGeographic())
        {
            _geographic = this;
            return;
        }
        if (_wgs84Datum)
        {
            _geographic = create("wgs84");
            return;
        }
        std::string wkt;
        {
            std::lock_guard<std::mutex> lock(_ogr->mutex);
            std::unique_ptr<OGRSpatialReference> geog(_ogr->srs.CloneGeogCS());
            if (geog)
                wkt = exportWkt(*geog);
        }
        _geographic = wkt.empty() ? nullptr : create(wkt, _vertInit);
    });
    return _geographic;
}

const SpatialReference* SpatialReference::getECEF() const
{
    std::call_once(_ecefOnce, [this] {
        if (isECEF())
        {
            _ecef = this;
            return;
        }
        if (_wgs84Datum)
        {
            _ecef = create("geocentric");
            return;
        }
        std::string wkt;
        {
            std::lock_guard<std::mutex> lock(_ogr->mutex);
            QuietGdalErrors quiet;
            OGRSpatialReference geocentric;
            if (geocentric.SetGeocCS((_name + " (geocentric)").c_str()) == OGRERR_NONE &&
                geocentric.CopyGeogCSFrom(&_ogr->srs) == OGRERR_NONE)
                wkt = exportWkt(geocentric);
        }
        _ecef = wkt.empty() ? nullptr : create(wkt);
    });
    return _ecef;
}

bool SpatialReference::isEquivalentTo(const SpatialReference* other) const
{
    if (!other)
        return false;
    if (other == this)
        return true;
    if (_kind != other->_kind || normalisedVertical(_vertInit) != normalisedVertical(other->_vertInit))
        return false;
    if (_projection != Projection::None || other->_projection != Projection::None)
        return _projection == other->_projection;
    if (_wgs84Datum && other->_wgs84Datum && _kind != Kind::Projected)
        return true; // WGS84 geographic or WGS84 ECEF, however they were spelled

    std::scoped_lock lock(_ogr->mutex, other->_ogr->mutex);
    return _ogr->srs.IsSame(&other->_ogr->srs) != 0;
}

bool SpatialReference::transform(const osg::Vec3d& in, const SpatialReference* to, osg::Vec3d& out) const
{
    if (!to || !isFinite(in))
        return false;
    if (isEquivalentTo(to))
    {
        out = in;
        return true;
    }

    // Every transform runs through geographic coordinates: this SRS → its geographic SRS → (datum shift) → the
    // target's geographic SRS → the target. Each leg is the identity or closed form where it can be.
    const SpatialReference* fromGeo = getGeographicSRS();
    const SpatialReference* toGeo = to->getGeographicSRS();
    if (!fromGeo || !toGeo)
        return false;

    osg::Vec3d geo;
    if (!toGeographic(in, geo))
        return false;
    osg::Vec3d shifted = geo;
    if (!fromGeo->isEquivalentTo(toGeo) && !fromGeo->transformWithGdal(geo, toGeo, shifted))
        return false;
    osg::Vec3d result;
    if (!to->fromGeographic(shifted, result) || !isFinite(result))
        return false;
    out = result;
    return true;
}

bool SpatialReference::transform2D(double x, double y, const SpatialReference* to, double& outX, double& outY) const
{
    osg::Vec3d out;
    if (!transform(osg::Vec3d(x, y, 0.0), to, out))
        return false;
    outX = out.x();
    outY = out.y();
    return true;
}

bool SpatialReference::toGeographic(const osg::Vec3d& in, osg::Vec3d& out) const
{
    switch (_kind)
    {
    case Kind::Geographic: out = in; return true;
    case Kind::Ecef:
    {
        double lat = 0.0, lon = 0.0, height = 0.0;
        ecefToGeodetic(*_ellipsoid, in, lat, lon, height);
        out.set(osg::RadiansToDegrees(lon), osg::RadiansToDegrees(lat), height);
        return true;
    }
    case Kind::Projected: break;
    }

    const double a = kWgs84Equator;
    switch (_projection)
    {
    case Projection::SphericalMercator:
        out.set(osg::RadiansToDegrees(in.x() / a),
                osg::RadiansToDegrees(2.0 * std::atan(std::exp(in.y() / a)) - osg::PI_2), in.z());
        return true;
    case Projection::PlateCarre:
        out.set(osg::RadiansToDegrees(in.x() / a), osg::RadiansToDegrees(in.y() / a), in.z());
        return true;
    case Projection::None: break;
    }
    return transformWithGdal(in, getGeographicSRS(), out);
}

bool SpatialReference::fromGeographic(const osg::Vec3d& in, osg::Vec3d& out) const
{
    switch (_kind)
    {
    case Kind::Geographic: out = in; return true;
    case Kind::Ecef:
    {
        if (std::fabs(in.y()) > 90.0)
            return false;
        double x = 0.0, y = 0.0, z = 0.0;
        _ellipsoid->convertLatLongHeightToXYZ(osg::DegreesToRadians(in.y()), osg::DegreesToRadians(in.x()), in.z(), x,
                                              y, z);
        out.set(x, y, z);
        return true;
    }
    case Kind::Projected: break;
    }

    const double a = kWgs84Equator;
    switch (_projection)
    {
    case Projection::SphericalMercator:
    {
        // The poles lie at infinity on this projection; points beyond its edge are pinned to the edge.
        const double lat = osg::clampBetween(in.y(), -kMercatorMaxLatitude, kMercatorMaxLatitude);
        out.set(a * osg::DegreesToRadians(in.x()), a * std::log(std::tan(osg::PI_4 + osg::DegreesToRadians(lat) / 2.0)),
                in.z());
        return true;
    }
    case Projection::PlateCarre:
        out.set(a * osg::DegreesToRadians(in.x()), a * osg::DegreesToRadians(in.y()), in.z());
        return true;
    case Projection::None: break;
    }
    const SpatialReference* geographic = getGeographicSRS();
    return geographic && geographic->transformWithGdal(in, this, out);
}

bool SpatialReference::transformWithGdal(const osg::Vec3d& in, const SpatialReference* to, osg::Vec3d& out) const
{
    if (!to)
        return false;
    std::unique_lock<std::mutex> lock(_ogr->mutex);
    auto found = _ogr->transforms.find(to);
    if (found == _ogr->transforms.end())
    {
        std::unique_ptr<OGRCoordinateTransformation> created;
        {
            // The transformation copies both definitions, so the target only needs locking while it is built.
            lock.unlock();
            std::scoped_lock both(_ogr->mutex, to->_ogr->mutex);
            QuietGdalErrors quiet;
            created.reset(OGRCreateCoordinateTransformation(&_ogr->srs, &to->_ogr->srs));
        }
        if (!created)
            OSG_WARN << "[SpatialReference] no transformation from " << _name << " to " << to->_name << std::endl;
        lock.lock();
        found = _ogr->transforms.emplace(to, std::move(created)).first;
    }
    if (!found->second)
        return false;

    double x = in.x(), y = in.y(), z = in.z();
    QuietGdalErrors quiet;
    if (!found->second->Transform(1, &x, &y, &z) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
        return false;
    out.set(x, y, z);
    return true;
}

bool SpatialReference::transformToWorld(const osg::Vec3d& in, osg::Vec3d& world) const
{
    if (!isFinite(in))
        return false;
    if (!isGeographic())
    {
        world = in; // ECEF and projected coordinates are the world's own
        return true;
    }
    const SpatialReference* ecef = getECEF();
    return ecef && ecef->fromGeographic(in, world);
}

bool SpatialReference::transformFromWorld(const osg::Vec3d& world, osg::Vec3d& out, double* outHaeZ) const
{
    if (!isFinite(world))
        return false;
    osg::Vec3d result = world;
    double hae = world.z();
    if (isGeographic())
    {
        const SpatialReference* ecef = getECEF();
        if (!ecef || !ecef->toGeographic(world, result))
            return false;
        hae = result.z();
    }
    else if (isECEF())
    {
        double lat = 0.0, lon = 0.0;
        ecefToGeodetic(*_ellipsoid, world, lat, lon, hae);
    }
    out = result;
    if (outHaeZ)
        *outHaeZ = hae;
    return true;
}

bool SpatialReference::createLocalToWorld(const osg::Vec3d& point, osg::Matrixd& out) const
{
    if (!isFinite(point))
        return false;
    if (isProjected())
    {
        out.makeTranslate(point);
        return true;
    }
    osg::Vec3d world;
    if (!transformToWorld(point, world))
        return false;
    _ellipsoid->computeLocalToWorldTransformFromXYZ(world.x(), world.y(), world.z(), out);
    return true;
}
