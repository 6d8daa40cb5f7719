#include <PluginEarth/findTileNodeVistor.h>

#include <osgDB/Serializer>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdlib>

findTileNodeVistor::findTileNodeVistor(float cameraRange)
    : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), range(cameraRange)
{}

void findTileNodeVistor::apply(osg::PagedLOD& node)
{
    pagedLODs.push_back(&node);
    traverse(node);
}

bool findTileNodeVistor::levelOfName(const std::string& name, int& level)
{
    std::vector<std::string> parts;
    osgDB::split(name, parts, '/');
    if (parts.empty())
        return false;
    // strtol reads what std::stoi reads, but reports a missing or oversized number instead of throwing.
    const char* text = parts.front().c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    level = static_cast<int>(value);
    return true;
}

int findTileNodeVistor::getLevel() const
{
    float best = 0.0f;
    float lowest = FLT_MAX;
    int bestLevel = 0;
    int lowestLevel = 0;
    bool haveBest = false;
    bool haveLowest = false;
    for (const osg::PagedLOD* lod : pagedLODs)
    {
        const osg::LOD::RangeList& ranges = lod->getRangeList();
        for (unsigned i = 0; i < ranges.size(); ++i)
        {
            if (i >= lod->getNumChildren() || !lod->getChild(i))
                continue;
            int level = 0;
            if (!levelOfName(lod->getChild(i)->getName(), level))
                continue;
            const float x = ranges[i].first;
            if (x != 0.0f && x < range && x > best)
            {
                best = x;
                bestLevel = level;
                haveBest = true;
            }
            if (x < lowest)
            {
                lowest = x;
                lowestLevel = level;
                haveLowest = true;
            }
        }
    }
    if (haveBest)
        return bestLevel;
    return haveLowest ? lowestLevel : -1;
}
