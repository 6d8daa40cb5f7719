#include <osgEarthFeatures/FeatureModelGraph>

#include "../GeoJSONReader.h"

#include <osg/BoundingSphere>
#include <osg/LOD>
#include <osg/Notify>
#include <osg/observer_ptr>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <map>
#include <mutex>

namespace osgEarth::Features {

namespace {

struct GraphRegistry
{
    std::mutex mutex; // guards graphs: graphs register on the building thread and are found on the pager's
    std::map<unsigned, osg::observer_ptr<FeatureModelGraph>> graphs;
    std::atomic<unsigned> next{1};
};

GraphRegistry& registry()
{
    static GraphRegistry instance;
    return instance;
}

// The style named after the feature source wins, so one sheet can serve several layers; then the sheet's default.
Symbology::Style selectStyle(const Symbology::StyleSheet* sheet, const FeatureSource* source)
{
    if (!sheet)
    {
        return Symbology::Style();
    }
    if (source)
    {
        if (const Symbology::Style* named = sheet->getStyle(source->getName(), false))
        {
            return *named;
        }
    }
    const Symbology::Style* fallback = sheet->getDefaultStyle();
    return fallback ? *fallback : Symbology::Style();
}

// Tiles are addressed with 32-bit columns and rows; deeper levels could not be numbered.
constexpr unsigned maxPagingLevels = 30;

// Where a point of the feature SRS lies in the map's world space (earth-centred for a geographic map); the
// untransformed coordinates when either SRS is missing or the transform fails.
osg::Vec3d toWorld(const SpatialReference* from, const SpatialReference* mapSRS, double x, double y)
{
    GeoPoint mapped;
    osg::Vec3d world(x, y, 0.0);
    if (from && mapSRS && GeoPoint(from, x, y, 0.0).transform(mapSRS, mapped))
    {
        mapped.toWorld(world);
    }
    return world;
}

// A sphere around an extent in world space: centred on its middle, reaching its corners and edge midpoints (on a
// globe the surface bulges, so corners alone could miss the farthest points of a large tile).
osg::BoundingSphered worldBound(const GeoExtent& extent, const SpatialReference* mapSRS)
{
    const osg::Vec3d center = toWorld(extent.getSRS(), mapSRS, 0.5 * (extent.west() + extent.east()),
                                      0.5 * (extent.south() + extent.north()));
    double radius = 0.0;
    for (int i = 0; i <= 2; ++i)
    {
        for (int j = 0; j <= 2; ++j)
        {
            const osg::Vec3d corner = toWorld(extent.getSRS(), mapSRS, extent.west() + 0.5 * i * extent.width(),
                                              extent.south() + 0.5 * j * extent.height());
            radius = std::max(radius, (corner - center).length());
        }
    }
    return osg::BoundingSphered(center, radius);
}

// The column (or row) of `value` among `count` equal cells over [low, high]; values outside land in the edge
// cells, so every feature belongs to exactly one tile of each level.
unsigned cellOf(double value, double low, double high, unsigned count)
{
    const double cell = std::floor((value - low) / (high - low) * count);
    if (!(cell > 0.0)) // also catches NaN
    {
        return 0;
    }
    return cell >= count ? count - 1 : unsigned(cell);
}

} // namespace

FeatureModelGraph::FeatureModelGraph(Session* session, const FeatureModelSourceOptions& options,
                                     FeatureNodeFactory* factory, RefNodeOperationVector* preMerge,
                                     RefNodeOperationVector* postMerge)
    : _uid(registry().next++), _session(session), _options(options), _factory(factory), _preMerge(preMerge),
      _postMerge(postMerge)
{
    {
        GraphRegistry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.graphs[_uid] = this;
    }
    if (!_session.valid())
    {
        _session = new Session(nullptr, _options.styles().get(), _options.featureSource().get());
    }
    if (!_factory.valid())
    {
        _factory = new GeomFeatureNodeFactory(_options.maxGranularity().get());
    }
    Symbology::StyleSheet* sheet = _session->styles() ? _session->styles() : _options.styles().get();
    FeatureSource* source = _session->getFeatureSource();
    _style = selectStyle(sheet, source);

    const FeatureProfile* profile =
        source && source->initialize(_session->getDBOptions()) ? source->getFeatureProfile() : nullptr;
    osg::ref_ptr<osg::Node> content;
    if (!profile)
    {
        OSG_WARN << "[FeatureModelGraph] the layer has no usable feature source; its graph stays empty" << std::endl;
        content = new osg::Group();
    }
    else if (!profile->getTiled() && !_options.layout().isSet())
    {
        FeatureList features;
        source->getFeatures(features);
        content = buildTileGroup(features, _style, 0.0f);
    }
    else
    {
        setUpPaging(*profile);
        content = makePagedLOD(0, 0, 0);
    }
    if (content.valid())
    {
        runOperations(_preMerge.get(), content.get());
        addChild(content.get());
        runOperations(_postMerge.get(), content.get());
    }
}

FeatureModelGraph::~FeatureModelGraph()
{
    GraphRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.graphs.erase(_uid);
}

osg::ref_ptr<FeatureModelGraph> FeatureModelGraph::findByUID(unsigned uid)
{
    GraphRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto found = reg.graphs.find(uid);
    osg::ref_ptr<FeatureModelGraph> graph;
    if (found != reg.graphs.end())
    {
        found->second.lock(graph);
    }
    return graph;
}

std::string FeatureModelGraph::pseudoURI(unsigned lod, unsigned tileX, unsigned tileY) const
{
    return std::to_string(_uid) + "." + std::to_string(lod) + "_" + std::to_string(tileX) + "_" +
           std::to_string(tileY) + ".osgearth_pseudo_fmg";
}

void FeatureModelGraph::runOperations(RefNodeOperationVector* operations, osg::Node* node) const
{
    if (!operations)
    {
        return;
    }
    for (const osg::ref_ptr<NodeOperation>& operation : operations->operations)
    {
        if (operation.valid())
        {
            (*operation)(node);
        }
    }
}

osg::ref_ptr<osg::Group> FeatureModelGraph::buildTileGroup(const FeatureList& features, const Symbology::Style& style,
                                                           float minRange) const
{
    const bool index = _options.indexingOn();
    osg::ref_ptr<osg::Group> group;
    osg::ref_ptr<FeatureSourceIndexNode> indexNode;
    if (index)
    {
        indexNode = new FeatureSourceIndexNode(_options.featureIndexing().get());
        group = indexNode;
    }
    else
    {
        group = new osg::Group();
    }
    if (osg::ref_ptr<osg::Node> compiled = _factory->createNode(features, style, *_session, index))
    {
        if (minRange > 0.0f)
        {
            // A level's min_range hides its features up close, while the finer tiles beside them stay reachable.
            osg::ref_ptr<osg::LOD> near = new osg::LOD();
            near->addChild(compiled.get(), minRange, FLT_MAX);
            compiled = near;
        }
        group->addChild(compiled.get());
    }
    if (indexNode.valid())
    {
        indexNode->embedFeatures(features);
        indexNode->reindex();
    }
    return group;
}

void FeatureModelGraph::setUpPaging(const FeatureProfile& profile)
{
    _paged = true;
    _extent = profile.getExtent();
    _tiledSource = profile.getTiled();
    const FeatureDisplayLayout layout = _options.layout().get();

    // Layout levels from the farthest to the nearest; one without max_range counts as the farthest.
    std::vector<FeatureLevel> levels;
    for (unsigned i = 0; i < layout.getNumLevels(); ++i)
    {
        levels.push_back(*layout.getLevel(i));
    }
    std::stable_sort(levels.begin(), levels.end(), [](const FeatureLevel& a, const FeatureLevel& b) {
        return (a.maxRange().isSet() ? a.maxRange().get() : FLT_MAX) >
               (b.maxRange().isSet() ? b.maxRange().get() : FLT_MAX);
    });

    if (_tiledSource)
    {
        _firstSourceLevel = profile.getFirstLevel();
        _numLevels = unsigned(std::max(profile.getMaxLevel(), 0)) + 1;
    }
    else
    {
        _numLevels = std::max<unsigned>(1, unsigned(levels.size()));
    }
    if (_numLevels > maxPagingLevels)
    {
        OSG_WARN << "[FeatureModelGraph] graph " << _uid << ": paging stops at level " << maxPagingLevels - 1
                 << std::endl;
        _numLevels = maxPagingLevels;
    }

    float largestLevelRange = 0.0f;
    for (const FeatureLevel& level : levels)
    {
        largestLevelRange = std::max(largestLevelRange, level.maxRange().isSet() ? level.maxRange().get() : 0.0f);
    }
    if (layout.maxRange().isSet())
    {
        _maxRange = layout.maxRange().get();
    }
    else if (largestLevelRange > 0.0f)
    {
        _maxRange = largestLevelRange;
    }
    else
    {
        const double radius = worldBound(_extent, _session->getMapSRS().get()).radius();
        _maxRange = float(radius * layout.tileSizeFactor().get());
    }
    if (!(_maxRange > 0.0f) || !std::isfinite(_maxRange))
    {
        OSG_WARN << "[FeatureModelGraph] graph " << _uid << ": no usable paging range, its tiles always show"
                 << std::endl;
        _maxRange = FLT_MAX;
    }

    Symbology::StyleSheet* sheet = _session->styles() ? _session->styles() : _options.styles().get();
    for (unsigned lod = 0; lod < _numLevels; ++lod)
    {
        float range = lod == 0 ? _maxRange : _levelRanges.back() * 0.5f;
        // An untiled source pages one level per layout level; a tiled source takes the level whose ranges hold
        // the tile's range.
        const FeatureLevel* chosen = nullptr;
        if (!_tiledSource && lod < levels.size())
        {
            chosen = &levels[lod];
            if (lod > 0 && chosen->maxRange().isSet())
            {
                range = chosen->maxRange().get();
            }
        }
        for (size_t i = 0; _tiledSource && !chosen && i < levels.size(); ++i)
        {
            if (levels[i].minRange().get() <= range &&
                (!levels[i].maxRange().isSet() || range <= levels[i].maxRange().get()))
            {
                chosen = &levels[i];
            }
        }
        const Symbology::Style* named = nullptr;
        if (chosen && chosen->styleName().isSet() && sheet)
        {
            named = sheet->getStyle(chosen->styleName().get(), false);
        }
        if (chosen && chosen->styleName().isSet() && !named)
        {
            OSG_WARN << "[FeatureModelGraph] graph " << _uid << ": no style \"" << chosen->styleName().get()
                     << "\" for level " << lod << ", using the layer's style" << std::endl;
        }
        _levelRanges.push_back(range);
        _levelStyles.push_back(named ? *named : _style);
        _levelMinRanges.push_back(chosen ? chosen->minRange().get() : 0.0f);
    }
}

osg::ref_ptr<osg::PagedLOD> FeatureModelGraph::makePagedLOD(unsigned lod, unsigned tileX, unsigned tileY) const
{
    const FeatureDisplayLayout& layout = _options.layout().get();
    const osg::BoundingSphered bound = worldBound(tileExtent(lod, tileX, tileY), _session->getMapSRS().get());
    osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD();
    paged->setCenter(bound.center());
    paged->setRadius(bound.radius());
    paged->setFileName(0, pseudoURI(lod, tileX, tileY));
    paged->setRange(0, 0.0f, lod < _levelRanges.size() ? _levelRanges[lod] : 0.0f);
    paged->setPriorityOffset(0, layout.priorityOffset().get());
    paged->setPriorityScale(0, layout.priorityScale().get());
    paged->setMinimumExpiryTime(0, layout.minExpiryTime().get());
    return paged;
}

GeoExtent FeatureModelGraph::tileExtent(unsigned lod, unsigned tileX, unsigned tileY) const
{
    const double count = std::ldexp(1.0, int(lod));
    const double width = _extent.width() / count;
    const double height = _extent.height() / count;
    const double west = _extent.west() + tileX * width;
    const double south = _extent.south() + tileY * height;
    return GeoExtent(_extent.getSRS(), west, south, west + width, south + height);
}

const std::vector<FeatureModelGraph::PlacedFeature>& FeatureModelGraph::allFeatures() const
{
    std::lock_guard<std::mutex> lock(_featuresMutex);
    if (!_featuresRead)
    {
        _featuresRead = true;
        FeatureList features;
        _session->getFeatureSource()->getFeatures(features);
        for (const osg::ref_ptr<Feature>& feature : features)
        {
            const Symbology::Geometry* geometry = feature.valid() ? feature->getGeometry() : nullptr;
            if (!geometry || geometry->getTotalPointCount() == 0)
            {
                continue;
            }
            const osg::BoundingBoxd bounds = geometry->getBounds();
            _features.push_back(PlacedFeature{bounds.center().x(), bounds.center().y(), feature});
        }
    }
    return _features;
}

bool FeatureModelGraph::queryTile(unsigned lod, unsigned tileX, unsigned tileY, FeatureList& out, bool& subdivide) const
{
    subdivide = lod + 1 < _numLevels;
    if (_tiledSource)
    {
        if (int(lod) < _firstSourceLevel)
        {
            return true;
        }
        // A tile the source cannot give ends its branch: nothing finer is expected below a hole.
        const bool read = _session->getFeatureSource()->getFeatures(lod, tileX, tileY, out);
        subdivide = subdivide && read;
        return read;
    }
    const unsigned count = 1u << lod;
    for (const PlacedFeature& placed : allFeatures())
    {
        if (cellOf(placed.x, _extent.west(), _extent.east(), count) == tileX &&
            cellOf(placed.y, _extent.south(), _extent.north(), count) == tileY)
        {
            out.push_back(placed.feature);
        }
    }
    return true;
}

bool FeatureModelGraph::isBlacklisted(const std::string& uri) const
{
    std::lock_guard<std::mutex> lock(_blacklistMutex);
    return _blacklist.count(uri) != 0;
}

void FeatureModelGraph::blacklist(const std::string& uri) const
{
    std::lock_guard<std::mutex> lock(_blacklistMutex);
    _blacklist.insert(uri);
}

osg::Node* FeatureModelGraph::load(unsigned lod, unsigned tileX, unsigned tileY, const std::string& uri)
{
    if (!_paged || lod >= _numLevels || tileX >= (1u << lod) || tileY >= (1u << lod))
    {
        OSG_INFO << "[FeatureModelGraph] graph " << _uid << " has no tile " << lod << "/" << tileX << "/" << tileY
                 << " (" << uri << ")" << std::endl;
        return new osg::Group();
    }
    // Keyed by the tile's own name, so whatever name the caller used, a tile is asked for once.
    const std::string key = pseudoURI(lod, tileX, tileY);
    if (isBlacklisted(key))
    {
        return new osg::Group();
    }
    FeatureList features;
    bool subdivide = false;
    queryTile(lod, tileX, tileY, features, subdivide);
    if (features.empty() && !subdivide)
    {
        blacklist(key);
        return new osg::Group();
    }
    osg::ref_ptr<osg::Group> tile = features.empty()
                                        ? osg::ref_ptr<osg::Group>(new osg::Group())
                                        : buildTileGroup(features, _levelStyles[lod], _levelMinRanges[lod]);
    // Added after indexing, so an index node only indexes its own tile's features.
    for (unsigned i = 0; subdivide && i < 4; ++i)
    {
        tile->addChild(makePagedLOD(lod + 1, 2 * tileX + (i & 1u), 2 * tileY + (i >> 1)).get());
    }
    return tile.release();
}

osg::Node* FeatureModelGraph::load(unsigned lod, unsigned tileX, unsigned tileY, const std::string& uri,
                                   const std::string& featureText)
{
    FeatureList features;
    std::string error;
    if (!readGeoJSON(featureText, features, error))
    {
        OSG_WARN << "[FeatureModelGraph] tile " << lod << "/" << tileX << "/" << tileY << " (" << uri << "): " << error
                 << std::endl;
        return nullptr;
    }
    if (_options.indexingOn())
    {
        return buildTileGroup(features, _style, 0.0f).release();
    }
    osg::ref_ptr<osg::Node> compiled = _factory->createNode(features, _style, *_session, false);
    return compiled.valid() ? compiled.release() : new osg::Group();
}

} // namespace osgEarth::Features
