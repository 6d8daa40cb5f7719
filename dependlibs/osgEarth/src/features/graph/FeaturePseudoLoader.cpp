// The reader of feature-tile pseudo-files: "<uid>.<lod>_<x>_<y>.osgearth_pseudo_fmg" names tile (lod, x, y) of the
// feature graph numbered uid. Nothing is read from disk; the pager hands the name here and the graph builds the tile.
#include <osgEarthFeatures/FeatureModelGraph>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <string>

namespace osgEarth::Features {

namespace {

const char* const pseudoExtension = "osgearth_pseudo_fmg";

// Reads the decimal number at `pos` up to `stop` (or the end when stop is 0). Only digits, at most nine of them,
// so the value fits an unsigned without overflow checks.
bool readNumber(const std::string& text, size_t& pos, char stop, unsigned& value)
{
    const size_t begin = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
    {
        value = value * 10 + unsigned(text[pos] - '0');
        ++pos;
    }
    if (pos == begin || pos - begin > 9)
    {
        return false;
    }
    if (stop == 0)
    {
        return pos == text.size();
    }
    if (pos >= text.size() || text[pos] != stop)
    {
        return false;
    }
    ++pos;
    return true;
}

class FeaturePseudoLoader : public osgDB::ReaderWriter
{
public:
    FeaturePseudoLoader() { supportsExtension(pseudoExtension, "Feature graph tiles (generated)"); }

    const char* className() const override { return "Feature graph tile pager"; }

    ReadResult readNode(const std::string& fileName, const Options* /*options*/) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(fileName)))
        {
            return ReadResult::FILE_NOT_HANDLED;
        }
        // The pager may prefix a database path; the tile is named by the last component alone.
        const std::string name = osgDB::getNameLessExtension(osgDB::getSimpleFileName(fileName));
        unsigned uid = 0, lod = 0, x = 0, y = 0;
        size_t pos = 0;
        if (!readNumber(name, pos, '.', uid) || !readNumber(name, pos, '_', lod) || !readNumber(name, pos, '_', x) ||
            !readNumber(name, pos, 0, y))
        {
            OSG_WARN << "[FeatureModelGraph] \"" << fileName << "\" is not a <uid>.<lod>_<x>_<y> tile name"
                     << std::endl;
            return ReadResult("malformed feature tile name");
        }
        osg::ref_ptr<FeatureModelGraph> graph = FeatureModelGraph::findByUID(uid);
        if (!graph.valid())
        {
            // Normal while a layer is being removed: its pending requests outlive it.
            OSG_INFO << "[FeatureModelGraph] no feature graph " << uid << " for " << fileName << std::endl;
            return ReadResult(ReadResult::FILE_NOT_FOUND);
        }
        return ReadResult(graph->load(lod, x, y, fileName));
    }
};

// Registered when the library loads, so the pager and osgDB::readNodeFile find it without a plug-in file.
osgDB::RegisterReaderWriterProxy<FeaturePseudoLoader> registerFeaturePseudoLoader;

} // namespace

} // namespace osgEarth::Features
