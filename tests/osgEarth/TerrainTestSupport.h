#pragma once

#include <osgEarth/Map>
#include <osgEarth/MapNode>

#include "GeoRasters.h"

#include <osg/PagedLOD>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace terraintest {

using veltra::test::writeFlatDemTiff;
using veltra::test::writeHemispheres;

/// A geocentric map with the given terrain options and GL lighting off (so pixels show the imagery unshaded).
inline osgEarth::Map* makeMap(const osgEarth::Config& terrain = osgEarth::Config("terrain"))
{
    osgEarth::Config options("options");
    options.add("lighting", "false");
    options.add(terrain);
    return new osgEarth::Map(osgEarth::MapOptions(osgEarth::ConfigOptions(options)));
}

inline osgEarth::ImageLayerOptions gdalLayer(const std::string& name, const std::string& path)
{
    osgEarth::Config conf("image");
    conf.add("name", name);
    conf.add("driver", "gdal");
    conf.add("url", path);
    return osgEarth::ImageLayerOptions(osgEarth::ConfigOptions(conf));
}

inline osgEarth::ElevationLayerOptions gdalElevation(const std::string& name, const std::string& path,
                                                     bool offset = false)
{
    osgEarth::Config conf("elevation");
    conf.add("name", name);
    conf.add("driver", "gdal");
    conf.add("url", path);
    conf.add("offset", offset ? "true" : "false");
    return osgEarth::ElevationLayerOptions(osgEarth::ConfigOptions(conf));
}

/// Every PagedLOD's child-0 name under `node`, and the bare tiles' names, collected depth first.
inline void collectTileNames(osg::Node* node, std::vector<std::string>& names)
{
    osg::Group* group = node ? node->asGroup() : nullptr;
    if (!group)
        return;
    const std::string& name = node->getName();
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) && name.find('/') != std::string::npos)
        names.push_back(name);
    for (unsigned i = 0; i < group->getNumChildren(); ++i)
        collectTileNames(group->getChild(i), names);
}

inline unsigned deepestLevel(const std::vector<std::string>& names)
{
    unsigned deepest = 0;
    for (const std::string& name : names)
        deepest = std::max(deepest, unsigned(std::stoul(name)));
    return deepest;
}

} // namespace terraintest
