#pragma once

#include <tiny_gltf.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veltra::gltf {

/// An accessor's elements as floats, `components` per element, normalised integers scaled and
/// sparse substitutions applied.
struct AccessorValues
{
    std::vector<float> values;
    unsigned components = 0;
    std::size_t count = 0;
};

/// Reads accessors of one model, checking every offset, stride and count against the buffers
/// before touching them, and charging what it allocates to a budget proportional to the input,
/// so that small JSON cannot make a huge scene. Functions return false with `error` set.
class AccessorReader
{
public:
    explicit AccessorReader(const tinygltf::Model& model);

    /// Float values of an accessor of the given glTF type (TINYGLTF_TYPE_VEC3, ...).
    bool readFloats(int accessorIndex, int type, AccessorValues& out, std::string& error);
    /// Float values of a VEC3 or VEC4 accessor (colours); `out.components` says which.
    bool readColors(int accessorIndex, AccessorValues& out, std::string& error);
    /// Index values of a SCALAR accessor of unsigned 8, 16 or 32-bit integers.
    bool readIndices(int accessorIndex, std::vector<std::uint32_t>& out, std::string& error);
    /// Charges `bytes` of derived data (computed normals, expanded triangles) to the budget.
    bool charge(std::size_t bytes, std::string& error);

    /// Elements an accessor without a buffer view may declare: their zeros are made from nothing.
    static constexpr std::size_t kMaxElementsWithoutData = std::size_t(1) << 24;

private:
    struct Elements
    {
        const unsigned char* base = nullptr; // null: the accessor has no data, elements are zero
        std::size_t stride = 0;
        std::size_t count = 0;
        int componentType = 0;
        unsigned components = 0;
    };
    // Receives element, component and the component's value as stored (integers exact).
    using Store = std::function<void(std::size_t, unsigned, double)>;

    bool locate(int bufferView, std::size_t byteOffset, std::size_t count, int componentType, unsigned components,
                Elements& out, std::string& error) const;
    bool visit(int accessorIndex, const Store& store, std::string& error) const;
    bool visitSparse(const tinygltf::Accessor& accessor, unsigned components, const Store& store,
                     std::string& error) const;

    const tinygltf::Model& _model;
    std::size_t _budget;
};

} // namespace veltra::gltf
