#include <osgEarthFeatures/FeatureModelSource>

namespace osgEarth::Features {

FeatureLevel::FeatureLevel(const Config& conf)
{
    conf.getIfSet("name", _name);
    // Older files name the level's style "class"; "style" wins when both are there.
    if (!conf.getIfSet("style", _styleName))
    {
        conf.getIfSet("class", _styleName);
    }
    conf.getIfSet("min_range", _minRange);
    conf.getIfSet("max_range", _maxRange);
}

FeatureLevel::FeatureLevel(float minRange, float maxRange, const std::string& styleName)
{
    _minRange = minRange;
    _maxRange = maxRange;
    if (!styleName.empty())
    {
        _styleName = styleName;
    }
}

Config FeatureLevel::getConfig() const
{
    Config conf("level");
    conf.setIfSet("name", _name);
    conf.setIfSet("style", _styleName);
    conf.setIfSet("min_range", _minRange);
    conf.setIfSet("max_range", _maxRange);
    return conf;
}

FeatureDisplayLayout::FeatureDisplayLayout(const Config& conf) : ConfigOptions(conf)
{
    fromConfig(_conf);
}

void FeatureDisplayLayout::fromConfig(const Config& conf)
{
    conf.getIfSet("tile_size", _tileSize);
    conf.getIfSet("tile_size_factor", _tileSizeFactor);
    conf.getIfSet("min_range", _minRange);
    conf.getIfSet("max_range", _maxRange);
    conf.getIfSet("crop_features", _cropFeatures);
    conf.getIfSet("priority_offset", _priorityOffset);
    conf.getIfSet("priority_scale", _priorityScale);
    conf.getIfSet("min_expiry_time", _minExpiryTime);
    // A merged Config that brings levels replaces the list rather than appending to it, so merging the same
    // layout twice does not double its levels.
    const ConfigSet levels = conf.children("level");
    if (!levels.empty())
    {
        _levels.clear();
        for (const Config& level : levels)
        {
            _levels.emplace_back(level);
        }
    }
}

Config FeatureDisplayLayout::getConfig() const
{
    Config conf = ConfigOptions::getConfig();
    conf.key() = "layout";
    conf.setIfSet("tile_size", _tileSize);
    conf.setIfSet("tile_size_factor", _tileSizeFactor);
    conf.setIfSet("min_range", _minRange);
    conf.setIfSet("max_range", _maxRange);
    conf.setIfSet("crop_features", _cropFeatures);
    conf.setIfSet("priority_offset", _priorityOffset);
    conf.setIfSet("priority_scale", _priorityScale);
    conf.setIfSet("min_expiry_time", _minExpiryTime);
    // The kept Config holds the levels as first read; the list (perhaps added to since) is what gets written.
    conf.remove("level");
    for (const FeatureLevel& level : _levels)
    {
        conf.add(level.getConfig());
    }
    return conf;
}

void FeatureDisplayLayout::mergeConfig(const Config& conf)
{
    ConfigOptions::mergeConfig(conf);
    fromConfig(conf);
}

FeatureModelSourceOptions::FeatureModelSourceOptions(const ConfigOptions& options) : ModelSourceOptions(options)
{
    fromConfig(_conf);
}

FeatureModelSourceOptions::~FeatureModelSourceOptions() = default;

void FeatureModelSourceOptions::fromConfig(const Config& conf)
{
    conf.getObjIfSet("features", _featureOptions);
    if (const Config* styles = conf.child_ptr("styles"))
    {
        _styles = new Symbology::StyleSheet(*styles);
    }
    // Older files call the layout "paging"; the newer key wins when both are present.
    if (!conf.getObjIfSet("layout", _layout))
    {
        conf.getObjIfSet("paging", _layout);
    }
    conf.getObjIfSet("feature_indexing", _featureIndexing);
    conf.getIfSet("lighting", _lighting);
    conf.getIfSet("max_granularity", _maxGranularity);
    conf.getIfSet("merge_geometry", _mergeGeometry);
    conf.getIfSet("cluster_culling", _clusterCulling);
    conf.getIfSet("backface_culling", _backfaceCulling);
    conf.getIfSet("alpha_blending", _alphaBlending);
    conf.getIfSet("feature_name", _featureName);
}

Config FeatureModelSourceOptions::getConfig() const
{
    Config conf = ModelSourceOptions::getConfig();
    conf.setObjIfSet("features", _featureOptions);
    if (_styles.valid())
    {
        conf.set("styles", _styles->getConfig());
    }
    conf.setObjIfSet("layout", _layout);
    conf.setObjIfSet("feature_indexing", _featureIndexing);
    conf.setIfSet("lighting", _lighting);
    conf.setIfSet("max_granularity", _maxGranularity);
    conf.setIfSet("merge_geometry", _mergeGeometry);
    conf.setIfSet("cluster_culling", _clusterCulling);
    conf.setIfSet("backface_culling", _backfaceCulling);
    conf.setIfSet("alpha_blending", _alphaBlending);
    conf.setIfSet("feature_name", _featureName);
    return conf;
}

void FeatureModelSourceOptions::mergeConfig(const Config& conf)
{
    ModelSourceOptions::mergeConfig(conf);
    fromConfig(conf);
}

} // namespace osgEarth::Features
