#pragma once

#include <osg/Node>

namespace veltra::bench {

/// The terrain tiles present in a scene graph: the nodes named after their tile key ("lod/x/y"), whether the
/// camera shows them or not, and the finest level among them.
struct TileCensus
{
    unsigned tiles = 0;
    unsigned deepestLevel = 0;
};

/// Counts the tiles under `root`. Call between frames: the pager merges its tiles during the update traversal.
TileCensus countTiles(osg::Node* root);

} // namespace veltra::bench
