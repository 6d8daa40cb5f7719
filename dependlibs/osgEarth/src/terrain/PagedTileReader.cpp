#include "TerrainContext.h"

#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <cstdio>

namespace osgEarth::Terrain {

namespace {

/// Loads "lod/x/y.<engine>.osgearth_engine_mp_tile": the group of the four children of tile lod/x/y of that engine.
/// Nothing is read from disk; the name only addresses the engine and the key.
class PagedTileReader : public osgDB::ReaderWriter
{
public:
    PagedTileReader() { supportsExtension(pagedTileExtension, "Globe terrain child tiles (generated)"); }

    const char* className() const override { return "Globe terrain tile pager"; }

    ReadResult readNode(const std::string& fileName, const Options* /*options*/) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(fileName)))
        {
            return ReadResult::FILE_NOT_HANDLED;
        }
        unsigned lod = 0, x = 0, y = 0, uid = 0;
        char tail = 0;
        if (std::sscanf(fileName.c_str(), "%u/%u/%u.%u.%c", &lod, &x, &y, &uid, &tail) != 5)
        {
            return ReadResult(ReadResult::FILE_NOT_FOUND);
        }
        osg::ref_ptr<TerrainContext> context = TerrainContext::find(uid);
        if (!context)
        {
            return ReadResult(ReadResult::FILE_NOT_FOUND); // the engine is gone: nothing to page in
        }
        const TileKey key(lod, x, y, context->profile());
        if (!key.isValid() || lod >= context->maxLod())
        {
            return ReadResult(ReadResult::FILE_NOT_FOUND);
        }
        return ReadResult(context->buildChildren(key).release());
    }
};

// Registers on library load; the library is linked by everything that builds a terrain engine.
osgDB::RegisterReaderWriterProxy<PagedTileReader> registerPagedTileReader;

} // namespace

} // namespace osgEarth::Terrain
