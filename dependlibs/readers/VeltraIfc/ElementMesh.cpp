#include <VeltraIfc/ElementMesh.h>

#include <VeltraIfc/IfcText.h>

#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/IFC4/include/IfcRepresentation.h>
#include <ifcpp/geometry/AppearanceData.h>
#include <ifcpp/geometry/Carve/CSG_Adapter.h>
#include <ifcpp/geometry/Carve/GeometryInputData.h>

#include <osg/BlendFunc>
#include <osg/Geometry>
#include <osg/Material>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace veltra::ifc {

namespace {

using MeshSet = carve::mesh::MeshSet<3>;

// Representations that describe an element rather than show it: drawing an axis line or a
// bounding box beside the body would double every wall.
bool isDrawnRepresentation(const RepresentationData& representation)
{
    static const std::set<std::string> kNotDrawn = {"Axis",       "Box",       "FootPrint",    "Profile", "Clearance",
                                                    "Annotation", "Reference", "SurveyPoints", "Lighting"};
    if (representation.m_ifc_representation.expired())
        return false;
    const std::shared_ptr<IfcRepresentation> ifcRepresentation(representation.m_ifc_representation);
    return kNotDrawn.count(textOf(ifcRepresentation->m_RepresentationIdentifier)) == 0;
}

const AppearanceData* surfaceStyleIn(const std::vector<std::shared_ptr<AppearanceData>>& appearances)
{
    for (const auto& appearance : appearances)
    {
        if (appearance && (appearance->m_apply_to_geometry_type == AppearanceData::GEOM_TYPE_SURFACE ||
                           appearance->m_apply_to_geometry_type == AppearanceData::GEOM_TYPE_ANY))
            return appearance.get();
    }
    return nullptr;
}

osg::Vec4 colourOf(const vec4& colour, float alpha)
{
    return osg::Vec4(float(colour.r()), float(colour.g()), float(colour.b()), alpha);
}

// Triangles of the item's meshes with flat normals, transformed into model coordinates. The
// normal comes from the transformed corners, so mirroring placements keep it facing out.
class TriangleSink
{
public:
    explicit TriangleSink(const carve::math::Matrix& placement) : _placement(placement) {}

    void addMeshSet(std::shared_ptr<MeshSet> meshSet)
    {
        if (!meshSet)
            return;
        // Carve faces can be any polygon; IFC++ splits them into triangles (concave ones too).
        CSG_Adapter::retriangulateMeshSet(meshSet);
        for (const carve::mesh::Mesh<3>* mesh : meshSet->meshes)
        {
            for (const carve::mesh::Face<3>* face : mesh->faces)
                addFace(*face);
        }
    }

    bool empty() const { return _vertices->empty(); }

    osg::ref_ptr<osg::Geometry> release()
    {
        osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
        geometry->setVertexArray(_vertices.get());
        geometry->setNormalArray(_normals.get(), osg::Array::BIND_PER_VERTEX);
        geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, GLsizei(_vertices->size())));
        return geometry;
    }

private:
    void addFace(const carve::mesh::Face<3>& face)
    {
        std::vector<osg::Vec3d> corners;
        corners.reserve(face.n_edges);
        const carve::mesh::Edge<3>* edge = face.edge;
        for (size_t i = 0; i < face.n_edges && edge; ++i, edge = edge->next)
        {
            const vec3 point = _placement * edge->vert->v;
            corners.emplace_back(point.x, point.y, point.z);
        }
        // A face left with more corners is convex or near it after retriangulation: a fan fits.
        for (size_t i = 1; i + 1 < corners.size(); ++i)
            addTriangle(corners[0], corners[i], corners[i + 1]);
    }

    void addTriangle(const osg::Vec3d& a, const osg::Vec3d& b, const osg::Vec3d& c)
    {
        osg::Vec3d normal = (b - a) ^ (c - a);
        if (normal.normalize() <= 0.0 || !normal.valid())
            return; // no area, nothing to light or see
        for (const osg::Vec3d* corner : {&a, &b, &c})
        {
            _vertices->push_back(osg::Vec3(*corner));
            _normals->push_back(osg::Vec3(normal));
        }
    }

    carve::math::Matrix _placement;
    osg::ref_ptr<osg::Vec3Array> _vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> _normals = new osg::Vec3Array;
};

} // namespace

osg::StateSet* SurfaceStyles::stateSetOf(const AppearanceData* appearance)
{
    if (!appearance)
        return nullptr;
    const float alpha = float(appearance->m_transparency);
    const bool blended = appearance->m_set_transparent;
    const Key key{float(appearance->m_color_diffuse.r()),
                  float(appearance->m_color_diffuse.g()),
                  float(appearance->m_color_diffuse.b()),
                  float(appearance->m_color_ambient.r()),
                  float(appearance->m_color_ambient.g()),
                  float(appearance->m_color_ambient.b()),
                  float(appearance->m_color_specular.r()),
                  float(appearance->m_color_specular.g()),
                  float(appearance->m_color_specular.b()),
                  float(appearance->m_shininess),
                  blended ? alpha : 1.0f};
    osg::ref_ptr<osg::StateSet>& stateSet = _stateSets[key];
    if (stateSet)
        return stateSet.get();

    const float shownAlpha = blended ? alpha : 1.0f;
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setDiffuse(osg::Material::FRONT_AND_BACK, colourOf(appearance->m_color_diffuse, shownAlpha));
    material->setAmbient(osg::Material::FRONT_AND_BACK, colourOf(appearance->m_color_ambient, shownAlpha));
    material->setSpecular(osg::Material::FRONT_AND_BACK, colourOf(appearance->m_color_specular, shownAlpha));
    material->setShininess(osg::Material::FRONT_AND_BACK,
                           float(std::min(128.0, std::max(0.0, appearance->m_shininess))));
    stateSet = new osg::StateSet;
    stateSet->setAttributeAndModes(material.get(), osg::StateAttribute::ON);
    if (blended)
    {
        stateSet->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA),
                                       osg::StateAttribute::ON);
        stateSet->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
    }
    return stateSet.get();
}

osg::ref_ptr<osg::Geode> makeElementGeode(ProductShapeData& shape, SurfaceStyles& styles)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    const carve::math::Matrix placement = shape.getTransform();
    const AppearanceData* elementStyle = surfaceStyleIn(shape.getAppearances());
    for (const std::shared_ptr<RepresentationData>& representation : shape.m_vec_representations)
    {
        if (!representation || !isDrawnRepresentation(*representation))
            continue;
        const AppearanceData* representationStyle = surfaceStyleIn(representation->m_vec_representation_appearances);
        for (const std::shared_ptr<ItemShapeData>& item : representation->m_vec_item_data)
        {
            if (!item)
                continue;
            TriangleSink triangles(placement);
            for (const auto& meshSet : item->m_meshsets)
                triangles.addMeshSet(meshSet);
            for (const auto& meshSet : item->m_meshsets_open)
                triangles.addMeshSet(meshSet);
            if (triangles.empty())
                continue;
            const AppearanceData* itemStyle = surfaceStyleIn(item->m_vec_item_appearances);
            const AppearanceData* style =
                itemStyle ? itemStyle : (representationStyle ? representationStyle : elementStyle);
            osg::ref_ptr<osg::Geometry> geometry = triangles.release();
            geometry->setStateSet(styles.stateSetOf(style));
            geode->addDrawable(geometry.get());
        }
    }
    return geode->getNumDrawables() > 0 ? geode : nullptr;
}

} // namespace veltra::ifc
