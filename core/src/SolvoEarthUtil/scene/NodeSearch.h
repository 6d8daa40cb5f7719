#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Group>

#include <set>
#include <string>
#include <vector>

namespace SolvoEarthUtil {

/// Nodes that every search below skips, together with everything beneath them (no references
/// held). Callers add and remove entries themselves; the scripting API registers map nodes here.
SOLVOEARTHUTIL_EXPORT extern std::set<osg::Node*> g_skips;

/// All nodes below `group` (the group itself excluded), depth first with parents before their
/// children, whose name contains `name` (any name when empty) and whose className() equals
/// `className` (any class when null).
SOLVOEARTHUTIL_EXPORT std::vector<osg::Node*> findNodesByName(osg::Group* group, const std::string& name,
                                                              const char* className);
/// The same search, appending to `out`.
SOLVOEARTHUTIL_EXPORT void findNodesByName(std::vector<osg::Node*>& out, osg::Group* group, const std::string& name,
                                           const char* className);
/// The first match of the same search, or null.
SOLVOEARTHUTIL_EXPORT osg::Node* findNodeByName(osg::Group* group, const std::string& name, const char* className);

/// The same walk matching the class alone: className() must equal `className`; a null or empty
/// `className` matches every node.
SOLVOEARTHUTIL_EXPORT std::vector<osg::Node*> findNodesByClassName(osg::Group* group, const char* className);
SOLVOEARTHUTIL_EXPORT void findNodesByClassName(std::vector<osg::Node*>& out, osg::Group* group, const char* className);
SOLVOEARTHUTIL_EXPORT osg::Node* findNodeByClassName(osg::Group* group, const char* className);

} // namespace SolvoEarthUtil
