#include "FeatureSourceDrivers.h"

#include "../../ReferrerPath.h"
#include "../OgrGeometry.h"

#include <osgEarthDrivers/feature_ogr/OGRFeatureOptions>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <osg/Notify>

#include <memory>

namespace osgEarth::Features {

namespace {

struct DatasetCloser
{
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

struct FeatureDestroyer
{
    void operator()(OGRFeature* feature) const { OGRFeature::DestroyFeature(feature); }
};

struct TransformDestroyer
{
    void operator()(OGRCoordinateTransformation* transform) const
    {
        OGRCoordinateTransformation::DestroyCT(transform);
    }
};

using Transform = std::unique_ptr<OGRCoordinateTransformation, TransformDestroyer>;

// The whole file is read while opening and kept, so queries from pager threads never share a GDAL dataset.
class OgrFeatureSource : public FeatureSource
{
public:
    explicit OgrFeatureSource(const FeatureSourceOptions& options) : FeatureSource(options) {}

protected:
    osg::ref_ptr<FeatureProfile> createFeatureProfile(const osgDB::Options*) override
    {
        const Drivers::OGRFeatureOptions ogr(getFeatureSourceOptions());
        const std::string path = resolvedPathValue(ogr.getConfig(), "url");
        // Only local files: GDAL would otherwise fetch URLs itself, outside our HTTP limits.
        if (path.empty() || path.find("://") != std::string::npos || path.rfind("/vsi", 0) == 0)
        {
            OSG_WARN << "[OGR] \"" << path << "\" is not a local file path" << std::endl;
            return nullptr;
        }
        Ogr::ensureDrivers();
        Ogr::QuietGdalErrors quiet;
        std::unique_ptr<GDALDataset, DatasetCloser> dataset(GDALDataset::FromHandle(
            GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
        OGRLayer* layer = dataset && dataset->GetLayerCount() > 0 ? dataset->GetLayer(0) : nullptr;
        if (!layer)
        {
            OSG_WARN << "[OGR] Cannot read " << path << quiet.lastMessage() << std::endl;
            return nullptr;
        }

        Transform toWgs84;
        OGRSpatialReference wgs84;
        wgs84.SetWellKnownGeogCS("WGS84");
        wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        const OGRSpatialReference* layerSrs = layer->GetSpatialRef();
        if (layerSrs && !layerSrs->IsSame(&wgs84))
        {
            toWgs84.reset(OGRCreateCoordinateTransformation(layerSrs, &wgs84));
            if (!toWgs84)
            {
                OSG_WARN << "[OGR] " << path << ": no transformation to WGS84" << quiet.lastMessage() << std::endl;
                return nullptr;
            }
        }

        GeoExtent extent = readFeatures(*layer, toWgs84.get(), path);
        if (!extent.isValid())
        {
            // An empty layer has no extent; the whole world keeps the source usable.
            extent = GeoExtent(SpatialReference::create("wgs84"), -180.0, -90.0, 180.0, 90.0);
        }
        return new FeatureProfile(extent);
    }

    bool readAll(FeatureList& out) const override
    {
        out.insert(out.end(), _features.begin(), _features.end());
        return true;
    }

private:
    // Reads every feature with a usable geometry into _features and returns their extent in WGS84 (invalid when
    // none was read). Features that cannot be used are skipped, with one warning for all of them.
    GeoExtent readFeatures(OGRLayer& layer, OGRCoordinateTransformation* toWgs84, const std::string& path)
    {
        const OGRSpatialReference* layerSrs = layer.GetSpatialRef();
        const bool geographic = toWgs84 || !layerSrs || layerSrs->IsGeographic();
        OGREnvelope bounds;
        bool any = false;
        unsigned skipped = 0;
        std::string firstError;
        FeatureID running = 0;
        layer.ResetReading();
        for (std::unique_ptr<OGRFeature, FeatureDestroyer> source(layer.GetNextFeature()); source;
             source.reset(layer.GetNextFeature()), ++running)
        {
            std::string error = "no geometry";
            osg::ref_ptr<Symbology::Geometry> geometry;
            if (OGRGeometry* ogrGeometry = source->GetGeometryRef())
            {
                if (toWgs84 && ogrGeometry->transform(toWgs84) != OGRERR_NONE)
                {
                    error = "cannot transform to WGS84";
                }
                else
                {
                    geometry = Ogr::toGeometry(ogrGeometry, geographic, error);
                    if (geometry)
                    {
                        OGREnvelope envelope;
                        ogrGeometry->getEnvelope(&envelope);
                        bounds.Merge(envelope);
                    }
                }
            }
            if (!geometry)
            {
                if (skipped++ == 0)
                {
                    firstError = "feature " + std::to_string(running) + ": " + error;
                }
                continue;
            }
            const GIntBig fid = source->GetFID();
            osg::ref_ptr<Feature> feature = new Feature(fid >= 0 ? FeatureID(fid) : running);
            feature->setGeometry(geometry.get());
            Ogr::copyAttributes(*source, *feature);
            _features.push_back(feature);
            any = true;
        }
        if (skipped > 0)
        {
            OSG_WARN << "[OGR] " << path << ": skipped " << skipped << " unusable feature(s), first " << firstError
                     << std::endl;
        }
        if (!any)
        {
            return GeoExtent();
        }
        return GeoExtent(SpatialReference::create("wgs84"), bounds.MinX, bounds.MinY, bounds.MaxX, bounds.MaxY);
    }

    FeatureList _features; // filled while opening, read-only afterwards
};

} // namespace

FeatureSource* createOgrFeatureSource(const FeatureSourceOptions& options)
{
    return new OgrFeatureSource(options);
}

} // namespace osgEarth::Features
