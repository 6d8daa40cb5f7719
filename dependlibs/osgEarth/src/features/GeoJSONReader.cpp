#include "GeoJSONReader.h"

#include "OgrGeometry.h"

#include <cpl_json.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <osg/Notify>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <set>

using namespace osgEarth::Symbology;

namespace osgEarth::Features {

namespace {

// GeometryCollections may nest; the type check below walks them, so its recursion is bounded too.
constexpr int maxGeometryDepth = 32;

// Lets OGR read the caller's text without a copy or a real file. The name is unique per call so concurrent reads
// never see each other's text; the file must be unlinked before the text goes away.
class MemoryFile
{
public:
    explicit MemoryFile(const std::string& text)
    {
        static std::atomic<unsigned long long> counter{0};
        _name = "/vsimem/veltra_geojson_" + std::to_string(++counter) + ".json";
        auto* bytes = reinterpret_cast<GByte*>(const_cast<char*>(text.data()));
        if (VSILFILE* file = VSIFileFromMemBuffer(_name.c_str(), bytes, vsi_l_offset(text.size()), FALSE))
        {
            VSIFCloseL(file);
            _open = true;
        }
    }
    ~MemoryFile()
    {
        if (_open)
        {
            VSIUnlink(_name.c_str());
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool isOpen() const { return _open; }
    const std::string& name() const { return _name; }

private:
    std::string _name;
    bool _open = false;
};

struct DatasetCloser
{
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

struct FeatureDestroyer
{
    void operator()(OGRFeature* feature) const { OGRFeature::DestroyFeature(feature); }
};

// OGR silently drops geometries of unknown types (the feature, or a collection's part, just loses them), so the
// feature's own JSON, as OGR parsed it, is checked for type names before its geometry is trusted.
bool knownGeometryTypes(const CPLJSONObject& geometry, int depth)
{
    static const std::set<std::string> known = {"Point",           "LineString",   "Polygon",           "MultiPoint",
                                                "MultiLineString", "MultiPolygon", "GeometryCollection"};
    if (depth > maxGeometryDepth || geometry.GetType() != CPLJSONObject::Type::Object)
    {
        return false;
    }
    const std::string type = geometry.GetString("type");
    if (!known.count(type))
    {
        return false;
    }
    if (type == "GeometryCollection")
    {
        const CPLJSONArray parts = geometry.GetArray("geometries");
        if (!parts.IsValid())
        {
            return false;
        }
        for (int i = 0; i < parts.Size(); ++i)
        {
            if (!knownGeometryTypes(parts[i], depth + 1))
            {
                return false;
            }
        }
    }
    return true;
}

// The feature's `id` member (see the header for the rule). OGR's own FID is not used because OGR also takes an
// `id` from the properties and renumbers when ids are mixed.
bool featureId(const CPLJSONObject& native, FeatureID running, FeatureID& fid, std::string& error)
{
    const CPLJSONObject id = native.GetObj("id");
    fid = running;
    if (!id.IsValid() || id.GetType() == CPLJSONObject::Type::Null)
    {
        return true;
    }
    switch (id.GetType())
    {
    case CPLJSONObject::Type::Integer:
    case CPLJSONObject::Type::Long:
    {
        const GInt64 value = id.ToLong(-1);
        if (value >= 0 && static_cast<unsigned long long>(value) <= ULONG_MAX)
        {
            fid = FeatureID(value);
            return true;
        }
        break;
    }
    case CPLJSONObject::Type::String:
    {
        const std::string text = id.ToString();
        if (!text.empty() && text.size() <= 20 && text.find_first_not_of("0123456789") == std::string::npos)
        {
            errno = 0;
            const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
            if (errno == 0 && value <= ULONG_MAX)
            {
                fid = FeatureID(value);
                return true;
            }
        }
        break;
    }
    default: break;
    }
    error = "feature id \"" + id.ToString() + "\" is not a non-negative integer";
    return false;
}

bool readLayer(OGRLayer& layer, FeatureID& running, FeatureList& read, std::string& error)
{
    const OGRSpatialReference* srs = layer.GetSpatialRef();
    const bool geographic = !srs || srs->IsGeographic();
    layer.ResetReading();
    for (std::unique_ptr<OGRFeature, FeatureDestroyer> source(layer.GetNextFeature()); source;
         source.reset(layer.GetNextFeature()), ++running)
    {
        FeatureID fid = running;
        // A bare geometry has no feature JSON: no id, and OGR read its type itself.
        if (const char* nativeText = source->GetNativeData())
        {
            CPLJSONDocument native;
            if (!native.LoadMemory(std::string(nativeText)))
            {
                error = "feature JSON unreadable";
                return false;
            }
            if (!featureId(native.GetRoot(), running, fid, error))
            {
                return false;
            }
            const CPLJSONObject geometry = native.GetRoot().GetObj("geometry");
            if (geometry.IsValid() && geometry.GetType() != CPLJSONObject::Type::Null &&
                !knownGeometryTypes(geometry, 0))
            {
                error = "feature " + std::to_string(running) + " has an unknown geometry type";
                return false;
            }
        }
        if (!source->GetGeometryRef())
        {
            error = "feature " + std::to_string(running) + " has no readable geometry";
            return false;
        }
        std::string geometryError;
        osg::ref_ptr<Geometry> geometry = Ogr::toGeometry(source->GetGeometryRef(), geographic, geometryError);
        if (!geometry)
        {
            error = "feature " + std::to_string(running) + ": " + geometryError;
            return false;
        }
        osg::ref_ptr<Feature> feature = new Feature(fid);
        feature->setGeometry(geometry.get());
        Ogr::copyAttributes(*source, *feature);
        read.push_back(feature);
    }
    return true;
}

bool readText(const std::string& text, FeatureList& read, std::string& error)
{
    if (text.size() > maxGeoJSONBytes)
    {
        error = "text of " + std::to_string(text.size()) + " bytes is over the limit";
        return false;
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
    {
        error = "empty text";
        return false;
    }
    Ogr::ensureDrivers();
    Ogr::QuietGdalErrors quiet;
    MemoryFile file(text);
    if (!file.isOpen())
    {
        error = "cannot hand the text to GDAL" + quiet.lastMessage();
        return false;
    }
    const char* const drivers[] = {"GeoJSON", nullptr};
    // NATIVE_DATA keeps each feature's JSON so ids and geometry type names can be checked as written.
    const char* const options[] = {"NATIVE_DATA=YES", nullptr};
    std::unique_ptr<GDALDataset, DatasetCloser> dataset(GDALDataset::FromHandle(
        GDALOpenEx(file.name().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, options, nullptr)));
    if (!dataset)
    {
        error = "not readable GeoJSON" + quiet.lastMessage();
        return false;
    }
    FeatureID running = 0;
    for (int i = 0; i < dataset->GetLayerCount(); ++i)
    {
        if (OGRLayer* layer = dataset->GetLayer(i); layer && !readLayer(*layer, running, read, error))
        {
            return false;
        }
    }
    return true;
}

} // namespace

bool readGeoJSON(const std::string& text, FeatureList& out, std::string& error)
{
    FeatureList read;
    error.clear();
    if (!readText(text, read, error))
    {
        OSG_WARN << "Globe features: GeoJSON text refused: " << error << std::endl;
        return false;
    }
    out.splice(out.end(), read);
    return true;
}

} // namespace osgEarth::Features
