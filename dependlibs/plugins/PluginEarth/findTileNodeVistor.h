#pragma once

#include <MarloPlugin_PluginEarth/MarloPlugin_PluginEarthExport.h>

#include <osg/NodeVisitor>
#include <osg/PagedLOD>

#include <string>
#include <vector>

/// Finds the terrain tile level that belongs to a camera range: run it over a terrain engine (it collects every
/// PagedLOD below, traversing all children) and ask `getLevel()`. Terrain tiles are named "level/x/y" and are shown
/// from a switch-in distance (the minimum of their range entry) outwards.
///
/// Threads: it reads the tile tree, which the database pager changes during the update traversal, so run it inside
/// the frame (a map node's callback) or while no frame runs.
class PLUGINEARTH_EXPORT findTileNodeVistor : public osg::NodeVisitor
{
public:
    explicit findTileNodeVistor(float range);

    /// Collects `node` and goes on below it.
    void apply(osg::PagedLOD& node) override;

    /// The level of the tile with the largest non-zero switch-in distance still below `range`; when no tile
    /// qualifies, the level of the tile with the smallest switch-in distance; -1 when no collected PagedLOD has a
    /// usable named child. A name is usable when its first "/"-separated piece starts with a decimal integer (read
    /// as `std::stoi` reads it); other names, and numbers too large for an int, are skipped.
    int getLevel() const;

    /// The leading integer of the first "/"-separated piece of `name`, or false when there is none (see getLevel).
    static bool levelOfName(const std::string& name, int& level);

    /// The camera range the level is chosen for, in metres.
    float range;
    /// Every PagedLOD met, in traversal order; no references are held, so use them before the scene changes.
    std::vector<osg::PagedLOD*> pagedLODs;
};
