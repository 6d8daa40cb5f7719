// Turning an earth document into a map and its map node, in the order the format defines: map options, image
// layers, elevation layers, model layers, data paths, the map node, then the application's <external> data.
#include "EarthFileReader.h"
#include "ReferrerPath.h"

#include <osgEarth/Config>
#include <osgEarth/Map>
#include <osgEarth/MapNode>

#include <osg/Notify>
#include <osgDB/FileUtils>

#include <algorithm>
#include <array>

namespace osgEarth {
namespace detail {

namespace {

using ReadResult = osgDB::ReaderWriter::ReadResult;

bool isKnownTopLevelKey(const std::string& key)
{
    static const std::array<const char*, 10> kKnown = {"name",      "type",        "version", "options", "image",
                                                       "elevation", "heightfield", "model",   "mask",    "external"};
    return std::any_of(kKnown.begin(), kKnown.end(), [&](const char* known) { return key == known; });
}

// The map options read both <options> and the legacy name/type attributes of the root element.
MapOptions readMapOptions(const Config& root)
{
    Config conf = root.child("options");
    conf.key() = "options";
    for (const char* key : {"name", "type"})
    {
        if (root.hasValue(key) && !conf.hasValue(key))
        {
            conf.set(key, root.value(key));
        }
    }
    return MapOptions(conf);
}

// Folders listed under <options><osg_file_paths> join osgDB's search path; relative ones are taken from the earth
// file's folder, which is what an author writing them next to the file means.
void addDataFilePaths(const Config& options)
{
    const Config* paths = options.child_ptr("osg_file_paths");
    if (!paths)
    {
        return;
    }
    osgDB::FilePathList& list = osgDB::getDataFilePathList();
    for (const Config& url : paths->children("url"))
    {
        const std::string path = resolveAgainstReferrer(trim(url.value()), url.referrer());
        if (path.empty())
        {
            continue;
        }
        // Reading the same file twice must not grow the search path each time.
        if (std::find(list.begin(), list.end(), path) == list.end())
        {
            list.push_back(path);
        }
    }
}

} // namespace

ReadResult buildMapNode(const Config& document)
{
    const Config* root = document.child_ptr("map");
    if (!root)
    {
        root = document.child_ptr("earth");
    }
    if (!root)
    {
        const std::string found =
            document.children().empty() ? std::string("nothing") : "<" + document.children().front().key() + ">";
        const std::string message = "not an earth file (root element is " + found + ", expected <map> or <earth>)";
        OSG_WARN << "[EarthFile] " << message << std::endl;
        return ReadResult(message);
    }

    const std::string version = root->value("version");
    if (!version.empty() && version != "2")
    {
        OSG_INFO << "[EarthFile] version \"" << version << "\" is read as version 2" << std::endl;
    }
    for (const Config& child : root->children())
    {
        if (!isKnownTopLevelKey(child.key()))
        {
            OSG_INFO << "[EarthFile] ignoring unknown element <" << child.key() << ">" << std::endl;
        }
    }

    osg::ref_ptr<Map> map = new Map(readMapOptions(*root));

    // A layer the map refuses (unknown driver) is reported by the map and skipped; the rest still load.
    for (const Config& conf : root->children("image"))
    {
        map->addImageLayer(ImageLayerOptions(conf));
    }
    for (const Config& conf : root->children())
    {
        if (conf.key() == "elevation" || conf.key() == "heightfield")
        {
            map->addElevationLayer(ElevationLayerOptions(conf));
        }
    }
    for (const Config& conf : root->children("model"))
    {
        map->addModelLayerConfig(conf);
        // Layers whose driver we build become real layers; the kept configs still serve callers that read them.
        const ModelLayerOptions options(conf);
        if (options.driver().isSet() && ModelSourceFactory::isRegistered(options.driver()->getDriver()))
        {
            osg::ref_ptr<ModelLayer> layer = new ModelLayer(options);
            map->addModelLayer(layer.get());
        }
    }
    if (root->hasChild("mask"))
    {
        OSG_INFO << "[EarthFile] terrain masks are not supported; <mask> ignored" << std::endl;
    }

    addDataFilePaths(root->child("options"));

    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    if (const Config* external = root->child_ptr("external"))
    {
        mapNode->externalConfig() = *external;
    }
    return ReadResult(mapNode.get());
}

} // namespace detail
} // namespace osgEarth
