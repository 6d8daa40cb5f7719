// The "feature_geom" model driver: a model layer over a feature source, drawn as a FeatureModelGraph.
#include <osgEarth/Map>
#include <osgEarthDrivers/model_feature_geom/FeatureGeomModelOptions>
#include <osgEarthFeatures/FeatureModelGraph>

#include <osg/Notify>

namespace osgEarth::Features {

namespace {

class FeatureGeomModelSource : public ModelSource
{
public:
    explicit FeatureGeomModelSource(const ModelSourceOptions& options) : ModelSource(options), _options(options) {}

    osg::Node* createNode(const Map* map, const osgDB::Options* dbOptions) override
    {
        osg::ref_ptr<FeatureSource> source = _options.featureSource();
        if (!source.valid() && _options.featureOptions().isSet())
        {
            source = FeatureSourceFactory::create(_options.featureOptions().get());
        }
        if (!source.valid())
        {
            OSG_WARN << "[FeatureGeomModelSource] the layer has no feature source" << std::endl;
            return nullptr;
        }
        // Opened here rather than in the graph so a source without a profile leaves the layer without a node.
        if (!source->initialize(dbOptions))
        {
            return nullptr;
        }
        osg::ref_ptr<Session> session = new Session(map, _options.styles().get(), source.get(), dbOptions);
        return new FeatureModelGraph(session.get(), _options,
                                     new GeomFeatureNodeFactory(_options.maxGranularity().get()));
    }

protected:
    ~FeatureGeomModelSource() override = default;

private:
    Drivers::FeatureGeomModelOptions _options;
};

// Registered when the library loads, so any model layer naming the driver finds it.
const bool g_registered = [] {
    ModelSourceFactory::registerDriver("feature_geom", [](const ModelSourceOptions& options) {
        return osg::ref_ptr<ModelSource>(new FeatureGeomModelSource(options));
    });
    return true;
}();

} // namespace

} // namespace osgEarth::Features
