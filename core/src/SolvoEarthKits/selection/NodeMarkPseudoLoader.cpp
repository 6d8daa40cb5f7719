#include <SolvoEarthKits/selection/NodeMarkPseudoLoader.h>

#include <SolvoEarthKits/selection/MarkNodeHighLightVistor.h>
#include <SolvoEarthUtil/loading/MyReadNodeFile.h>

#include <osg/Notify>
#include <osg/PagedLOD>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <mutex>

namespace {

// Guards the one visitor that every load shares (its found flag and its traversal state), so
// that overlapping loads on several pager threads neither mix their flags nor walk at once.
std::mutex& visitorMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Hands the read options, and with them the visitor, down to the paged nodes of a new part that
// have none of their own: the pager loads their children with their own options only, so without
// this the parts paged in below the first level would arrive unmarked.
class InheritOptions : public osg::NodeVisitor
{
public:
    explicit InheritOptions(osgDB::Options* options) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), _options(options) {}

    using osg::NodeVisitor::apply;
    void apply(osg::PagedLOD& plod) override
    {
        if (!plod.getDatabaseOptions())
            plod.setDatabaseOptions(_options.get());
        traverse(plod);
    }

private:
    osg::ref_ptr<osgDB::Options> _options;
};

// Registers the loader while the library is loaded.
class Registration
{
public:
    Registration()
    {
        if (osgDB::Registry* registry = osgDB::Registry::instance())
        {
            _loader = new NodeMarkPseudoLoader;
            registry->addReaderWriter(_loader.get());
        }
    }
    ~Registration()
    {
        osgDB::Registry* registry = osgDB::Registry::instance();
        if (registry && _loader.valid())
            registry->removeReaderWriter(_loader.get());
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    osg::ref_ptr<NodeMarkPseudoLoader> _loader;
};

const Registration g_registration;

} // namespace

NodeMarkPseudoLoader::NodeMarkPseudoLoader()
{
    supportsExtension("nodemark", "ShaderGen pseudoloader");
}

bool NodeMarkPseudoLoader::acceptsExtension(const std::string& extension) const
{
    return osgDB::equalCaseInsensitive(extension, "nodemark");
}

osgDB::ReaderWriter::ReadResult NodeMarkPseudoLoader::readObject(const std::string& fileName,
                                                                 const osgDB::Options* options) const
{
    return readNode(fileName, options);
}

osgDB::ReaderWriter::ReadResult NodeMarkPseudoLoader::readNode(const std::string& fileName,
                                                               const osgDB::Options* options) const
{
    if (!acceptsExtension(osgDB::getFileExtension(fileName)))
        return ReadResult::FILE_NOT_HANDLED;

    // The inner file is read with the registry's options, through its file cache when it has one.
    osg::ref_ptr<osg::Node> node = SolvoEarthUtil::MyReadNodeFile(osgDB::getNameLessExtension(fileName));
    if (!node)
        return ReadResult::ERROR_IN_READING_FILE;

    auto* visitor = options ? static_cast<SolvoEarthUtil::MarkNodeHighLightVistor*>(
                                  const_cast<void*>(options->getPluginData("HighLightVistor")))
                            : nullptr;
    if (visitor)
    {
        {
            std::lock_guard<std::mutex> lock(visitorMutex());
            visitor->found = false;
            node->accept(*visitor);
            if (visitor->found)
                OSG_NOTICE << fileName << " load node MarkNodeHighLightVistor" << std::endl;
        }
        InheritOptions inherit(options->cloneOptions());
        node->accept(inherit);
    }
    return node.get();
}
