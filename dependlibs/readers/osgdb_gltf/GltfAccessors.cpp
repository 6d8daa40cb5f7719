#include "GltfAccessors.h"

#include <algorithm>
#include <cstring>

namespace veltra::gltf {

namespace {

std::size_t componentSize(int componentType)
{
    switch (componentType)
    {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
    case TINYGLTF_COMPONENT_TYPE_INT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
    case TINYGLTF_COMPONENT_TYPE_DOUBLE: return 8;
    default: return 0;
    }
}

unsigned componentCount(int type)
{
    switch (type)
    {
    case TINYGLTF_TYPE_SCALAR: return 1;
    case TINYGLTF_TYPE_VEC2: return 2;
    case TINYGLTF_TYPE_VEC3: return 3;
    case TINYGLTF_TYPE_VEC4:
    case TINYGLTF_TYPE_MAT2: return 4;
    case TINYGLTF_TYPE_MAT3: return 9;
    case TINYGLTF_TYPE_MAT4: return 16;
    default: return 0;
    }
}

template <typename T>
T load(const unsigned char* at)
{
    T value;
    std::memcpy(&value, at, sizeof value); // buffers give no alignment guarantee
    return value;
}

double readComponent(const unsigned char* at, int componentType)
{
    switch (componentType)
    {
    case TINYGLTF_COMPONENT_TYPE_BYTE: return load<std::int8_t>(at);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return load<std::uint8_t>(at);
    case TINYGLTF_COMPONENT_TYPE_SHORT: return load<std::int16_t>(at);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return load<std::uint16_t>(at);
    case TINYGLTF_COMPONENT_TYPE_INT: return load<std::int32_t>(at);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: return load<std::uint32_t>(at);
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return load<float>(at);
    case TINYGLTF_COMPONENT_TYPE_DOUBLE: return load<double>(at);
    default: return 0.0;
    }
}

// glTF's rules for normalised integers: the largest value maps to 1, signed ones clamp at -1.
double normalise(double value, int componentType)
{
    switch (componentType)
    {
    case TINYGLTF_COMPONENT_TYPE_BYTE: return std::max(value / 127.0, -1.0);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return value / 255.0;
    case TINYGLTF_COMPONENT_TYPE_SHORT: return std::max(value / 32767.0, -1.0);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return value / 65535.0;
    default: return value;
    }
}

std::size_t totalBufferBytes(const tinygltf::Model& model)
{
    std::size_t total = 0;
    for (const tinygltf::Buffer& buffer : model.buffers)
        total += buffer.data.size();
    return total;
}

} // namespace

AccessorReader::AccessorReader(const tinygltf::Model& model)
    // Scenes expand their buffers: bytes to floats, indexed triangles to flat ones.
    : _model(model), _budget(16 * totalBufferBytes(model) + (std::size_t(256) << 20))
{}

bool AccessorReader::charge(std::size_t bytes, std::string& error)
{
    if (bytes > _budget)
    {
        error = "the model's data expands beyond its allowance (accessors overlap too often)";
        return false;
    }
    _budget -= bytes;
    return true;
}

bool AccessorReader::locate(int bufferView, std::size_t byteOffset, std::size_t count, int componentType,
                            unsigned components, Elements& out, std::string& error) const
{
    out = Elements();
    out.count = count;
    out.componentType = componentType;
    out.components = components;
    const std::size_t elementSize = componentSize(componentType) * components;
    if (elementSize == 0)
    {
        error = "unsupported component type " + std::to_string(componentType);
        return false;
    }
    if (bufferView < 0)
    {
        if (count > kMaxElementsWithoutData)
        {
            error = "an accessor without data declares " + std::to_string(count) + " elements";
            return false;
        }
        return true;
    }
    if (std::size_t(bufferView) >= _model.bufferViews.size())
    {
        error = "buffer view " + std::to_string(bufferView) + " does not exist";
        return false;
    }
    const tinygltf::BufferView& view = _model.bufferViews[std::size_t(bufferView)];
    if (view.buffer < 0 || std::size_t(view.buffer) >= _model.buffers.size())
    {
        error = "buffer view " + std::to_string(bufferView) + " names a buffer that does not exist";
        return false;
    }
    const std::vector<unsigned char>& data = _model.buffers[std::size_t(view.buffer)].data;
    if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset)
    {
        error = "buffer view " + std::to_string(bufferView) + " lies outside its buffer";
        return false;
    }
    out.stride = view.byteStride != 0 ? view.byteStride : elementSize;
    if (out.stride < elementSize)
    {
        error = "buffer view " + std::to_string(bufferView) + " has a stride smaller than its elements";
        return false;
    }
    // Every element takes at least one byte of the view, which bounds the count before any
    // multiplication can overflow.
    if (count > view.byteLength || byteOffset > view.byteLength ||
        (count > 0 && (count - 1) * out.stride + elementSize > view.byteLength - byteOffset))
    {
        error = "accessor of " + std::to_string(count) + " elements runs past the end of buffer view " +
                std::to_string(bufferView);
        return false;
    }
    out.base = data.data() + view.byteOffset + byteOffset;
    return true;
}

bool AccessorReader::visit(int accessorIndex, const Store& store, std::string& error) const
{
    if (accessorIndex < 0 || std::size_t(accessorIndex) >= _model.accessors.size())
    {
        error = "accessor " + std::to_string(accessorIndex) + " does not exist";
        return false;
    }
    const tinygltf::Accessor& accessor = _model.accessors[std::size_t(accessorIndex)];
    const unsigned components = componentCount(accessor.type);
    Elements elements;
    if (!locate(accessor.bufferView, accessor.byteOffset, accessor.count, accessor.componentType, components, elements,
                error))
    {
        error = "accessor " + std::to_string(accessorIndex) + ": " + error;
        return false;
    }
    const std::size_t size = componentSize(elements.componentType);
    for (std::size_t i = 0; i < elements.count; ++i)
    {
        for (unsigned c = 0; c < components; ++c)
        {
            const double value =
                elements.base ? readComponent(elements.base + i * elements.stride + c * size, elements.componentType)
                              : 0.0;
            store(i, c, value);
        }
    }
    if (accessor.sparse.isSparse && !visitSparse(accessor, components, store, error))
    {
        error = "accessor " + std::to_string(accessorIndex) + ": " + error;
        return false;
    }
    return true;
}

bool AccessorReader::visitSparse(const tinygltf::Accessor& accessor, unsigned components, const Store& store,
                                 std::string& error) const
{
    const auto& sparse = accessor.sparse;
    if (sparse.count < 0 || std::size_t(sparse.count) > accessor.count)
    {
        error = "sparse count " + std::to_string(sparse.count) + " exceeds the accessor's count";
        return false;
    }
    const int indexType = sparse.indices.componentType;
    if (indexType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE && indexType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
        indexType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)
    {
        error = "sparse indices must be unsigned integers";
        return false;
    }
    if (sparse.indices.byteOffset < 0 || sparse.values.byteOffset < 0)
    {
        error = "sparse data has a negative offset";
        return false;
    }
    const auto count = std::size_t(sparse.count);
    Elements indices;
    Elements values;
    if (!locate(sparse.indices.bufferView, std::size_t(sparse.indices.byteOffset), count, indexType, 1, indices,
                error) ||
        !locate(sparse.values.bufferView, std::size_t(sparse.values.byteOffset), count, accessor.componentType,
                components, values, error))
        return false;
    if (!indices.base || !values.base)
    {
        error = "sparse indices and values need buffer views";
        return false;
    }
    const std::size_t valueSize = componentSize(values.componentType);
    for (std::size_t i = 0; i < count; ++i)
    {
        const double target = readComponent(indices.base + i * indices.stride, indexType);
        if (target >= double(accessor.count))
        {
            error = "sparse index " + std::to_string(std::uint64_t(target)) + " is past the accessor's count";
            return false;
        }
        for (unsigned c = 0; c < components; ++c)
            store(std::size_t(target), c,
                  readComponent(values.base + i * values.stride + c * valueSize, values.componentType));
    }
    return true;
}

bool AccessorReader::readFloats(int accessorIndex, int type, AccessorValues& out, std::string& error)
{
    if (accessorIndex < 0 || std::size_t(accessorIndex) >= _model.accessors.size())
    {
        error = "accessor " + std::to_string(accessorIndex) + " does not exist";
        return false;
    }
    const tinygltf::Accessor& accessor = _model.accessors[std::size_t(accessorIndex)];
    if (accessor.type != type)
    {
        error = "accessor " + std::to_string(accessorIndex) + " has the wrong type for its use";
        return false;
    }
    const unsigned components = componentCount(type);
    // The count is checked against the buffer by visit(); check it before allocating too.
    Elements probe;
    if (!locate(accessor.bufferView, accessor.byteOffset, accessor.count, accessor.componentType, components, probe,
                error))
    {
        error = "accessor " + std::to_string(accessorIndex) + ": " + error;
        return false;
    }
    if (!charge(accessor.count * components * sizeof(float), error))
        return false;
    out.components = components;
    out.count = accessor.count;
    out.values.assign(accessor.count * components, 0.0f);
    const bool normalized = accessor.normalized;
    const int componentType = accessor.componentType;
    return visit(
        accessorIndex,
        [&](std::size_t i, unsigned c, double value) {
            out.values[i * components + c] = float(normalized ? normalise(value, componentType) : value);
        },
        error);
}

bool AccessorReader::readColors(int accessorIndex, AccessorValues& out, std::string& error)
{
    const bool vec3 = accessorIndex >= 0 && std::size_t(accessorIndex) < _model.accessors.size() &&
                      _model.accessors[std::size_t(accessorIndex)].type == TINYGLTF_TYPE_VEC3;
    if (!readFloats(accessorIndex, vec3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4, out, error))
        return false;
    // Colours stored as integers are always meant normalised.
    const int componentType = _model.accessors[std::size_t(accessorIndex)].componentType;
    if (componentType != TINYGLTF_COMPONENT_TYPE_FLOAT && !_model.accessors[std::size_t(accessorIndex)].normalized)
    {
        for (float& value : out.values)
            value = float(normalise(value, componentType));
    }
    return true;
}

bool AccessorReader::readIndices(int accessorIndex, std::vector<std::uint32_t>& out, std::string& error)
{
    if (accessorIndex < 0 || std::size_t(accessorIndex) >= _model.accessors.size())
    {
        error = "index accessor " + std::to_string(accessorIndex) + " does not exist";
        return false;
    }
    const tinygltf::Accessor& accessor = _model.accessors[std::size_t(accessorIndex)];
    if (accessor.type != TINYGLTF_TYPE_SCALAR || (accessor.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
                                                  accessor.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
                                                  accessor.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT))
    {
        error = "index accessor " + std::to_string(accessorIndex) + " is not a scalar of unsigned integers";
        return false;
    }
    Elements probe;
    if (!locate(accessor.bufferView, accessor.byteOffset, accessor.count, accessor.componentType, 1, probe, error))
    {
        error = "index accessor " + std::to_string(accessorIndex) + ": " + error;
        return false;
    }
    if (!charge(accessor.count * sizeof(std::uint32_t), error))
        return false;
    out.assign(accessor.count, 0);
    return visit(
        accessorIndex, [&](std::size_t i, unsigned, double value) { out[i] = std::uint32_t(value); }, error);
}

} // namespace veltra::gltf
