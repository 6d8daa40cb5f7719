#include "globe/TileCensus.h"

#include <osg/Group>
#include <osg/NodeVisitor>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace veltra::bench {

namespace {

class TileCounter : public osg::NodeVisitor
{
public:
    TileCounter() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::Group& group) override
    {
        const std::string& name = group.getName();
        if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) && name.find('/') != std::string::npos)
        {
            ++census.tiles;
            census.deepestLevel = std::max(census.deepestLevel, unsigned(std::strtoul(name.c_str(), nullptr, 10)));
        }
        traverse(group);
    }

    TileCensus census;
};

} // namespace

TileCensus countTiles(osg::Node* root)
{
    TileCounter counter;
    if (root)
    {
        root->accept(counter);
    }
    return counter.census;
}

} // namespace veltra::bench
