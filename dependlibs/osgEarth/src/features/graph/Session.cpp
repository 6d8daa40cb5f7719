// The session a feature layer's tiles share, and the factory that compiles features into geometry.
#include <osgEarthFeatures/FeatureModelSource>
#include <osgEarthFeatures/Session>

#include "../compile/FeatureCompiler.h"

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
    return compileFeatures(features, style, session.getMapSRS().get(), options);
}

Session::Session(const Map* map, Symbology::StyleSheet* styles, FeatureSource* source,
                 const osgDB::Options* dbOptions)
    // The map is only ever handed out as const; the observer needs a non-const pointee to watch.
    : _map(const_cast<Map*>(map)), _styles(styles), _featureSource(source), _dbOptions(dbOptions)
{}

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

} // namespace osgEarth::Features
