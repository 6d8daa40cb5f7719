#include "OgrGeometry.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <climits>
#include <cmath>
#include <mutex>

using namespace osgEarth::Symbology;

namespace osgEarth::Features::Ogr {

namespace {

// GeometryCollections may nest; OGR's JSON parser already limits depth, this keeps our own recursion bounded too.
constexpr int maxGeometryDepth = 32;

class Converter
{
public:
    explicit Converter(bool geographic) : _geographic(geographic) {}

    std::string error;

    osg::ref_ptr<Geometry> convert(const OGRGeometry* source, int depth)
    {
        if (depth > maxGeometryDepth)
        {
            return fail("geometry collections nested too deeply");
        }
        if (!source || source->IsEmpty())
        {
            return fail("empty geometry");
        }
        osg::ref_ptr<Geometry> result;
        switch (wkbFlatten(source->getGeometryType()))
        {
        case wkbPoint:
            result = new Point();
            if (!addPoint(*source->toPoint(), *result))
            {
                return nullptr;
            }
            break;
        case wkbLineString:
            result = new LineString();
            if (!addCurve(*source->toLineString(), *result, false))
            {
                return nullptr;
            }
            break;
        case wkbPolygon: result = convertPolygon(*source->toPolygon()); break;
        case wkbMultiPoint:
            result = new PointSet();
            for (const OGRPoint* point : *source->toMultiPoint())
            {
                if (!point || point->IsEmpty())
                {
                    return fail("empty point in a MultiPoint");
                }
                if (!addPoint(*point, *result))
                {
                    return nullptr;
                }
            }
            break;
        case wkbMultiLineString:
        case wkbMultiPolygon:
        case wkbGeometryCollection:
        {
            osg::ref_ptr<MultiGeometry> multi = new MultiGeometry();
            for (const OGRGeometry* part : *source->toGeometryCollection())
            {
                osg::ref_ptr<Geometry> converted = convert(part, depth + 1);
                if (!converted)
                {
                    return nullptr;
                }
                multi->add(converted.get());
            }
            result = multi;
            break;
        }
        default: return fail(std::string("unsupported geometry type ") + source->getGeometryName());
        }
        if (result && !result->isValid())
        {
            return fail(std::string("too few points for a ") + source->getGeometryName());
        }
        return result;
    }

private:
    bool _geographic;

    osg::ref_ptr<Geometry> fail(const std::string& message)
    {
        if (error.empty())
        {
            error = message;
        }
        return nullptr;
    }

    bool addCoordinate(double x, double y, double z, Geometry& target)
    {
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
        {
            fail("non-finite coordinate");
            return false;
        }
        if (_geographic && (x < -180.0 || x > 180.0 || y < -90.0 || y > 90.0))
        {
            fail("longitude or latitude out of range");
            return false;
        }
        target.push_back(osg::Vec3d(x, y, z));
        return true;
    }

    bool addPoint(const OGRPoint& point, Geometry& target)
    {
        return addCoordinate(point.getX(), point.getY(), point.Is3D() ? point.getZ() : 0.0, target);
    }

    bool addCurve(const OGRSimpleCurve& curve, Geometry& target, bool closed)
    {
        int count = curve.getNumPoints();
        // Rings repeat their first point at the end; our Ring closes itself.
        if (closed && count > 1 && curve.getX(0) == curve.getX(count - 1) && curve.getY(0) == curve.getY(count - 1) &&
            curve.getZ(0) == curve.getZ(count - 1))
        {
            --count;
        }
        for (int i = 0; i < count; ++i)
        {
            if (!addCoordinate(curve.getX(i), curve.getY(i), curve.getZ(i), target))
            {
                return false;
            }
        }
        return true;
    }

    osg::ref_ptr<Geometry> convertPolygon(const OGRPolygon& source)
    {
        const OGRLinearRing* outer = source.getExteriorRing();
        if (!outer || outer->IsEmpty())
        {
            return fail("polygon without an outer ring");
        }
        osg::ref_ptr<Polygon> polygon = new Polygon();
        if (!addCurve(*outer, *polygon, true))
        {
            return nullptr;
        }
        for (int i = 0; i < source.getNumInteriorRings(); ++i)
        {
            osg::ref_ptr<Ring> hole = new Ring();
            if (!addCurve(*source.getInteriorRing(i), *hole, true))
            {
                return nullptr;
            }
            polygon->getHoles().push_back(hole);
        }
        return polygon;
    }
};

} // namespace

void ensureDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

QuietGdalErrors::QuietGdalErrors()
{
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
}

QuietGdalErrors::~QuietGdalErrors()
{
    CPLPopErrorHandler();
}

std::string QuietGdalErrors::lastMessage() const
{
    const char* message = CPLGetLastErrorMsg();
    return message && *message ? std::string(": ") + message : std::string();
}

osg::ref_ptr<Geometry> toGeometry(const OGRGeometry* source, bool geographic, std::string& error)
{
    Converter converter(geographic);
    osg::ref_ptr<Geometry> result = converter.convert(source, 0);
    if (!result)
    {
        error = converter.error.empty() ? std::string("unreadable geometry") : converter.error;
    }
    return result;
}

void copyAttributes(const OGRFeature& source, Feature& target)
{
    const OGRFeatureDefn& definition = *source.GetDefnRef();
    for (int i = 0; i < definition.GetFieldCount(); ++i)
    {
        if (!source.IsFieldSetAndNotNull(i))
        {
            continue;
        }
        const OGRFieldDefn* field = definition.GetFieldDefn(i);
        const std::string name = field->GetNameRef();
        switch (field->GetType())
        {
        case OFTInteger:
            if (field->GetSubType() == OFSTBoolean)
            {
                target.set(name, source.GetFieldAsInteger(i) != 0);
            }
            else
            {
                target.set(name, source.GetFieldAsInteger(i));
            }
            break;
        case OFTInteger64:
        {
            const GIntBig value = source.GetFieldAsInteger64(i);
            if (value >= INT_MIN && value <= INT_MAX)
            {
                target.set(name, int(value));
            }
            else
            {
                target.set(name, double(value));
            }
            break;
        }
        case OFTReal: target.set(name, source.GetFieldAsDouble(i)); break;
        default: target.set(name, std::string(source.GetFieldAsString(i))); break;
        }
    }
}

} // namespace osgEarth::Features::Ogr
