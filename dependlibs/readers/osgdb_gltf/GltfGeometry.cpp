#include "GltfGeometry.h"

#include <array>
#include <numeric>

namespace veltra::gltf {

namespace {

bool glMode(int gltfMode, GLenum& mode)
{
    switch (gltfMode)
    {
    case TINYGLTF_MODE_POINTS: mode = GL_POINTS; return true;
    case TINYGLTF_MODE_LINE: mode = GL_LINES; return true;
    case TINYGLTF_MODE_LINE_LOOP: mode = GL_LINE_LOOP; return true;
    case TINYGLTF_MODE_LINE_STRIP: mode = GL_LINE_STRIP; return true;
    case -1: // tinygltf's "not given"; glTF's default is triangles
    case TINYGLTF_MODE_TRIANGLES: mode = GL_TRIANGLES; return true;
    case TINYGLTF_MODE_TRIANGLE_STRIP: mode = GL_TRIANGLE_STRIP; return true;
    case TINYGLTF_MODE_TRIANGLE_FAN: mode = GL_TRIANGLE_FAN; return true;
    default: return false;
    }
}

bool isTriangles(GLenum mode)
{
    return mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN;
}

// The triangles of a list, strip or fan as corner triples, wound as glTF draws them.
std::vector<std::array<std::uint32_t, 3>> triangles(GLenum mode, const std::vector<std::uint32_t>& corners)
{
    std::vector<std::array<std::uint32_t, 3>> out;
    const std::size_t n = corners.size();
    if (mode == GL_TRIANGLES)
    {
        for (std::size_t i = 0; i + 2 < n; i += 3)
            out.push_back({corners[i], corners[i + 1], corners[i + 2]});
    }
    else if (mode == GL_TRIANGLE_STRIP)
    {
        for (std::size_t i = 0; i + 2 < n; ++i)
        {
            if (i % 2 == 0)
                out.push_back({corners[i], corners[i + 1], corners[i + 2]});
            else
                out.push_back({corners[i + 1], corners[i], corners[i + 2]});
        }
    }
    else
    {
        for (std::size_t i = 1; i + 1 < n; ++i)
            out.push_back({corners[0], corners[i], corners[i + 1]});
    }
    return out;
}

osg::ref_ptr<osg::Vec3Array> toVec3(const AccessorValues& values)
{
    osg::ref_ptr<osg::Vec3Array> array = new osg::Vec3Array(unsigned(values.count));
    for (std::size_t i = 0; i < values.count; ++i)
        (*array)[i].set(values.values[3 * i], values.values[3 * i + 1], values.values[3 * i + 2]);
    return array;
}

// glTF's texture coordinates put v = 0 on the picture's top row; OpenGL's t = 0 is its bottom.
osg::ref_ptr<osg::Vec2Array> toTexCoords(const AccessorValues& values)
{
    osg::ref_ptr<osg::Vec2Array> array = new osg::Vec2Array(unsigned(values.count));
    for (std::size_t i = 0; i < values.count; ++i)
        (*array)[i].set(values.values[2 * i], 1.0f - values.values[2 * i + 1]);
    return array;
}

osg::ref_ptr<osg::Vec4Array> toColors(const AccessorValues& values, const osg::Vec4& factor)
{
    osg::ref_ptr<osg::Vec4Array> array = new osg::Vec4Array(unsigned(values.count));
    const unsigned n = values.components;
    for (std::size_t i = 0; i < values.count; ++i)
    {
        const float* v = &values.values[n * i];
        (*array)[i].set(v[0] * factor.r(), v[1] * factor.g(), v[2] * factor.b(), (n == 4 ? v[3] : 1.0f) * factor.a());
    }
    return array;
}

template <typename Array>
osg::ref_ptr<Array> gather(const Array* source, const std::vector<std::array<std::uint32_t, 3>>& corners)
{
    if (!source)
        return nullptr;
    osg::ref_ptr<Array> out = new Array;
    out->reserve(corners.size() * 3);
    for (const auto& triangle : corners)
        for (std::uint32_t corner : triangle)
            out->push_back((*source)[corner]);
    return out;
}

} // namespace

GeometryBuilder::GeometryBuilder(const tinygltf::Model& model, AccessorReader& accessors, MaterialBuilder& materials,
                                 GltfDiagnostics& diagnostics)
    : _model(model), _accessors(accessors), _materials(materials), _diagnostics(diagnostics)
{}

bool GeometryBuilder::meshGeometries(int index, std::vector<osg::ref_ptr<osg::Geometry>>& out, std::string& error)
{
    auto found = _meshes.find(index);
    if (found != _meshes.end())
    {
        out = found->second;
        return true;
    }
    if (index < 0 || std::size_t(index) >= _model.meshes.size())
    {
        error = "mesh " + std::to_string(index) + " does not exist";
        return false;
    }
    const tinygltf::Mesh& mesh = _model.meshes[std::size_t(index)];
    std::vector<osg::ref_ptr<osg::Geometry>> geometries;
    for (const tinygltf::Primitive& primitive : mesh.primitives)
    {
        osg::ref_ptr<osg::Geometry> geometry;
        if (!buildPrimitive(primitive, geometry, error))
        {
            error = "mesh " + std::to_string(index) + " (" + mesh.name + "): " + error;
            return false;
        }
        if (geometry)
        {
            geometry->setName(mesh.name);
            geometries.push_back(geometry);
        }
    }
    _meshes[index] = geometries;
    out = geometries;
    return true;
}

bool GeometryBuilder::buildPrimitive(const tinygltf::Primitive& primitive, osg::ref_ptr<osg::Geometry>& out,
                                     std::string& error)
{
    GLenum mode = GL_TRIANGLES;
    if (!glMode(primitive.mode, mode))
    {
        _diagnostics.warn("a primitive with unknown mode " + std::to_string(primitive.mode) + " is left out");
        return true;
    }
    const auto attribute = [&](const std::string& name) {
        auto found = primitive.attributes.find(name);
        return found == primitive.attributes.end() ? -1 : found->second;
    };
    if (attribute("POSITION") < 0)
    {
        _diagnostics.warn("a primitive without POSITION is left out");
        return true;
    }

    AccessorValues positions;
    if (!_accessors.readFloats(attribute("POSITION"), TINYGLTF_TYPE_VEC3, positions, error))
        return false;
    const std::size_t vertexCount = positions.count;
    // An optional attribute whose count disagrees with the positions is dropped, not trusted.
    const auto optional = [&](const std::string& name, AccessorValues& values, bool colors, int type) {
        const int accessor = attribute(name);
        if (accessor < 0)
            return true;
        const bool read = colors ? _accessors.readColors(accessor, values, error)
                                 : _accessors.readFloats(accessor, type, values, error);
        if (!read)
            return false;
        if (values.count != vertexCount)
        {
            _diagnostics.warn(name + " has " + std::to_string(values.count) + " elements for " +
                              std::to_string(vertexCount) + " vertices and is left out");
            values = AccessorValues();
        }
        return true;
    };
    AccessorValues normals;
    AccessorValues texCoords;
    AccessorValues colors;
    const int texCoordSet = _materials.baseColorTexCoord(primitive.material);
    if (!optional("NORMAL", normals, false, TINYGLTF_TYPE_VEC3) ||
        !optional("TEXCOORD_" + std::to_string(texCoordSet < 0 ? 0 : texCoordSet), texCoords, false,
                  TINYGLTF_TYPE_VEC2) ||
        !optional("COLOR_0", colors, true, 0))
        return false;

    std::vector<std::uint32_t> indices;
    const bool indexed = primitive.indices >= 0;
    if (indexed)
    {
        if (!_accessors.readIndices(primitive.indices, indices, error))
            return false;
        for (std::uint32_t value : indices)
        {
            if (value >= vertexCount)
            {
                error = "index " + std::to_string(value) + " is past the " + std::to_string(vertexCount) + " vertices";
                return false;
            }
        }
    }

    osg::ref_ptr<osg::Vec3Array> vertexArray = toVec3(positions);
    osg::ref_ptr<osg::Vec3Array> normalArray = normals.count ? toVec3(normals) : nullptr;
    osg::ref_ptr<osg::Vec2Array> texCoordArray = texCoords.count ? toTexCoords(texCoords) : nullptr;
    osg::ref_ptr<osg::Vec4Array> colorArray =
        colors.count ? toColors(colors, _materials.baseColor(primitive.material)) : nullptr;

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setUseDisplayList(false);
    geometry->setUseVertexBufferObjects(true);
    if (!normalArray && isTriangles(mode))
    {
        // glTF asks for flat normals when a mesh has none: every triangle gets its own corners.
        std::vector<std::uint32_t> corners = indices;
        if (!indexed)
        {
            corners.resize(vertexCount);
            std::iota(corners.begin(), corners.end(), 0u);
        }
        const std::size_t faceCount =
            mode == GL_TRIANGLES ? corners.size() / 3 : (corners.size() >= 3 ? corners.size() - 2 : 0);
        if (!_accessors.charge(faceCount * 3 * (2 * sizeof(osg::Vec3) + sizeof(osg::Vec2) + sizeof(osg::Vec4)), error))
            return false;
        const auto faces = triangles(mode, corners);
        normalArray = new osg::Vec3Array;
        normalArray->reserve(faces.size() * 3);
        for (const auto& face : faces)
        {
            const osg::Vec3& a = (*vertexArray)[face[0]];
            osg::Vec3 normal = ((*vertexArray)[face[1]] - a) ^ ((*vertexArray)[face[2]] - a);
            if (normal.normalize() == 0.0f)
                normal.set(0.0f, 0.0f, 1.0f); // a degenerate triangle draws nothing; any normal will do
            normalArray->insert(normalArray->end(), 3, normal);
        }
        vertexArray = gather(vertexArray.get(), faces);
        texCoordArray = gather(texCoordArray.get(), faces);
        colorArray = gather(colorArray.get(), faces);
        geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, GLsizei(vertexArray->size())));
    }
    else if (indexed && vertexCount <= 65536)
        geometry->addPrimitiveSet(new osg::DrawElementsUShort(mode, indices.begin(), indices.end()));
    else if (indexed)
        geometry->addPrimitiveSet(new osg::DrawElementsUInt(mode, indices.begin(), indices.end()));
    else
        geometry->addPrimitiveSet(new osg::DrawArrays(mode, 0, GLsizei(vertexCount)));

    geometry->setVertexArray(vertexArray.get());
    if (normalArray)
        geometry->setNormalArray(normalArray.get(), osg::Array::BIND_PER_VERTEX);
    if (texCoordArray)
        geometry->setTexCoordArray(0, texCoordArray.get(), osg::Array::BIND_PER_VERTEX);
    if (colorArray)
        geometry->setColorArray(colorArray.get(), osg::Array::BIND_PER_VERTEX);
    geometry->setStateSet(_materials.stateSet(primitive.material, colorArray != nullptr).get());
    out = geometry;
    return true;
}

} // namespace veltra::gltf
