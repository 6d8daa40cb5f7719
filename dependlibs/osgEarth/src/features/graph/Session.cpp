// The session a feature layer's tiles share, and the factory that compiles features into geometry.
#include <osgEarthFeatures/FeatureModelSource>
#include <osgEarthFeatures/Session>

#include "../compile/FeatureCompiler.h"
#include "../../terrain/ElevationQuery.h"

namespace osgEarth::Features {

osg::ref_ptr<osg::Node> GeomFeatureNodeFactory::createNode(const FeatureList& features, const Symbology::Style& style,
                                                           const Session& session, bool index)
{
    if (features.empty())
    {
        return nullptr;
    }
    CompileOptions options;
    options.maxGranularity = _maxGranularity;
    options.index = index;
    // Only `terrain` and `relative` clamping ask for heights; the session opens the elevation layers then.
    options.elevation = session.getElevationFunction();
    options.readOptions = session.getDBOptions();
    return compileFeatures(features, style, session.getMapSRS().get(), options);
}

Session::Session(const Map* map, Symbology::StyleSheet* styles, FeatureSource* source,
                 const osgDB::Options* dbOptions)
    // The map is only ever handed out as const; the observer needs a non-const pointee to watch.
    : _map(const_cast<Map*>(map)), _styles(styles), _featureSource(source), _dbOptions(dbOptions)
{}

Session::~Session() = default;

osg::ref_ptr<const Map> Session::getMap() const
{
    osg::ref_ptr<Map> map;
    _map.lock(map);
    return map;
}

osg::ref_ptr<const SpatialReference> Session::getMapSRS() const
{
    osg::ref_ptr<const Map> map = getMap();
    if (map.valid() && map->getSRS())
    {
        return map->getSRS();
    }
    return SpatialReference::create("wgs84");
}

const Terrain::ElevationQuery* Session::getElevationQuery() const
{
    std::call_once(_elevationOnce, [this] {
        if (osg::ref_ptr<const Map> map = getMap())
        {
            _elevation = Terrain::ElevationQuery::create(*map);
        }
    });
    return _elevation.get();
}

std::function<double(double x, double y)> Session::getElevationFunction() const
{
    osg::ref_ptr<const Map> map = getMap();
    if (!map.valid() || map->getElevationLayers().empty())
    {
        return {};
    }
    osg::ref_ptr<const Session> self = this;
    return [self](double x, double y) {
        const Terrain::ElevationQuery* query = self->getElevationQuery();
        return query ? query->heightAt(x, y) : 0.0;
    };
}

} // namespace osgEarth::Features
