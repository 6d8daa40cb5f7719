#pragma once

#include "ElevationQuery.h"
#include "TerrainSources.h"

#include <osgEarth/Map>

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/Referenced>
#include <osg/Vec4ub>
#include <osg/ref_ptr>

#include <vector>

namespace osgEarth::Terrain {

/// Extension of the paged requests that load the four children of a tile: "lod/x/y.<engine>.<extension>".
extern const char* const pagedTileExtension;

/// The finest level the terrain builds for `<options><terrain>`: its max_lod (or max_level), clamped.
unsigned terrainMaxLod(const Config& terrainOptions);
/// The terrain's vertical_scale; 1 when it is missing or not finite.
double terrainVerticalScale(const Config& terrainOptions);

/// Everything a terrain engine needs to make tiles, detached from the Map so that pager threads never touch the
/// map itself. Registered by engine UID while alive; a paged request for a gone engine finds nothing.
class TerrainContext : public osg::Referenced
{
public:
    /// Reads the terrain options and opens the layers' sources (layers that cannot be opened are skipped with a
    /// warning). Registers itself under a fresh UID.
    explicit TerrainContext(const Map& map);

    unsigned uid() const { return _uid; }
    const Profile* profile() const { return _profile.get(); }
    unsigned postsPerSide() const { return _posts; }
    double rangeFactor() const { return _rangeFactor; }
    unsigned minLod() const { return _minLod; }
    unsigned firstLod() const { return _firstLod; }
    unsigned maxLod() const { return _maxLod; }
    bool lighting() const { return _lighting; }

    /// The live context of an engine, or null once it is gone.
    static osg::ref_ptr<TerrainContext> find(unsigned uid);

    /// The root of the tile hierarchy: an unnamed PagedLOD holding, per level-0 key, the group of its four children.
    osg::ref_ptr<osg::Node> buildRoot() const;
    /// The group of the four child tiles of `parent` (each a PagedLOD or, at the last level, a bare tile).
    osg::ref_ptr<osg::Group> buildChildren(const TileKey& parent) const;
    /// The tile of `key`, wrapped in a PagedLOD when it may subdivide.
    osg::ref_ptr<osg::Node> buildPagedTile(const TileKey& key) const;
    /// The tile node alone: a transform named key.str() holding the tile mesh; `halfDiagonal` gets half the world
    /// distance between the extent's south-west and north-east corners.
    osg::ref_ptr<osg::MatrixTransform> buildTileNode(const TileKey& key, double& halfDiagonal) const;

protected:
    ~TerrainContext() override;

private:
    struct ImageLayer
    {
        osg::ref_ptr<ImageSource> source;
        float opacity;
        unsigned minLevel, maxLevel;
    };

    void readTerrainOptions(const Map& map);
    /// Adds the tiles of the first level shown under `key` to `group`, in quadrant order.
    void addTilesAtFirstLod(const TileKey& key, osg::Group& group) const;
    osg::ref_ptr<osg::Image> compositeImage(const TileKey& key) const;
    osg::Vec3d toWorld(double x, double y, double height) const;
    osg::Vec3d upAt(const osg::Vec3d& world) const;

    unsigned _uid;
    osg::ref_ptr<const Profile> _profile;
    bool _geocentric;
    unsigned _posts;
    double _rangeFactor;
    unsigned _minLod;
    unsigned _firstLod;
    unsigned _maxLod;
    unsigned _imageSize;
    double _verticalScale;
    osg::Vec4ub _colour; // under all imagery, and the whole tile when no layer draws there
    bool _lighting;
    std::vector<ImageLayer> _images; // bottom layer first
    std::vector<ElevationLayerSource> _elevations;
};

} // namespace osgEarth::Terrain
