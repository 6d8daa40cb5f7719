#pragma once

#include <osg/Geode>
#include <osg/StateSet>
#include <osg/ref_ptr>

#include <map>
#include <memory>
#include <tuple>

class AppearanceData;
class ProductShapeData;

namespace veltra::ifc {

/// One shared state set per distinct surface style of a model, so that thousands of elements
/// painted alike draw with a handful of materials.
class SurfaceStyles
{
public:
    /// The state set of a surface style: a material with its diffuse, ambient and specular
    /// colours, and blending in the transparent bin when the style is see-through. Null for no style.
    osg::StateSet* stateSetOf(const AppearanceData* appearance);

private:
    using Key = std::tuple<float, float, float, float, float, float, float, float, float, float, float>;
    std::map<Key, osg::ref_ptr<osg::StateSet>> _stateSets;
};

/// The surface meshes of one element, in model coordinates (metres, Z up): the element's
/// placement is applied to the vertices, so the geode needs no transform above it. Each item
/// carries the most specific surface style IFC gives it (item, then representation, then
/// element). Axis lines, footprints, bounding boxes and points are not drawn. Null when the
/// element has no surface.
osg::ref_ptr<osg::Geode> makeElementGeode(ProductShapeData& shape, SurfaceStyles& styles);

} // namespace veltra::ifc
