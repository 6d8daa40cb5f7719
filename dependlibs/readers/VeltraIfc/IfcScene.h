#pragma once

#include <VeltraIfc/VeltraIfcExport.h>

#include <osg/MatrixTransform>
#include <osg/ref_ptr>

#include <string>

namespace veltra::ifc {

class IfcDocument;

/// The scene of a parsed IFC file, in metres with Z up: a MatrixTransform named after the project
/// (the stem of `sourceName` when the project has no name), below it the sites, buildings and
/// storeys as groups, and one geode per element with surface geometry, named by listElements'
/// nodeName, under the storey that contains it. Every node carries the user values "ifcClass",
/// "name" and "globalId". Spaces are not drawn. Throws IfcError when no element has geometry.
///
/// Threads: any; conversions run one at a time (see IfcLibraryLock.h).
VELTRAIFC_EXPORT osg::ref_ptr<osg::MatrixTransform> buildScene(const IfcDocument& document,
                                                               const std::string& sourceName);

/// Parses `bytes` and builds their scene; throws IfcError for anything that cannot be read.
VELTRAIFC_EXPORT osg::ref_ptr<osg::MatrixTransform> readIfcScene(std::string bytes, const std::string& sourceName);

} // namespace veltra::ifc
