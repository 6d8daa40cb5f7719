#include <SolvoEarthUtil/loading/ShareDrawableData.h>

#include <cstring>
#include <functional>
#include <string_view>
#include <typeinfo>

namespace SolvoEarthUtil {

namespace {

size_t combine(size_t seed, size_t value)
{
    return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

size_t hashBytes(const void* data, size_t size)
{
    return std::hash<std::string_view>()(std::string_view(static_cast<const char*>(data), size));
}

bool sameBytes(const void* lhs, const void* rhs, size_t size)
{
    return size == 0 || std::memcmp(lhs, rhs, size) == 0;
}

// A modified-callback or a dynamic variance says someone changes the data later, in place.
bool mayShare(const osg::BufferData& data)
{
    return data.getDataVariance() != osg::Object::DYNAMIC && !data.getModifiedCallback();
}

bool sameArray(const osg::Array& lhs, const osg::Array& rhs)
{
    return lhs.getType() == rhs.getType() && lhs.getDataType() == rhs.getDataType() &&
           lhs.getDataSize() == rhs.getDataSize() && lhs.getBinding() == rhs.getBinding() &&
           lhs.getNormalize() == rhs.getNormalize() && lhs.getPreserveDataType() == rhs.getPreserveDataType() &&
           lhs.getNumElements() == rhs.getNumElements() &&
           sameBytes(lhs.getDataPointer(), rhs.getDataPointer(), lhs.getTotalDataSize());
}

size_t arrayHash(const osg::Array& array)
{
    size_t seed = std::hash<int>()(array.getType());
    seed = combine(seed, std::hash<int>()(array.getBinding()));
    seed = combine(seed, std::hash<unsigned>()(array.getNumElements()));
    return combine(seed, hashBytes(array.getDataPointer(), array.getTotalDataSize()));
}

// Index lists and plain ranges; other kinds of primitive set are left as they are.
bool shareablePrimitiveSet(const osg::PrimitiveSet& set)
{
    switch (set.getType())
    {
    case osg::PrimitiveSet::DrawArraysPrimitiveType:
    case osg::PrimitiveSet::DrawElementsUBytePrimitiveType:
    case osg::PrimitiveSet::DrawElementsUShortPrimitiveType:
    case osg::PrimitiveSet::DrawElementsUIntPrimitiveType: return true;
    default: return false;
    }
}

bool samePrimitiveSet(const osg::PrimitiveSet& lhs, const osg::PrimitiveSet& rhs)
{
    if (lhs.getType() != rhs.getType() || lhs.getMode() != rhs.getMode() ||
        lhs.getNumInstances() != rhs.getNumInstances())
        return false;
    if (lhs.getType() == osg::PrimitiveSet::DrawArraysPrimitiveType)
    {
        const auto& a = static_cast<const osg::DrawArrays&>(lhs);
        const auto& b = static_cast<const osg::DrawArrays&>(rhs);
        return a.getFirst() == b.getFirst() && a.getCount() == b.getCount();
    }
    return lhs.getTotalDataSize() == rhs.getTotalDataSize() &&
           sameBytes(lhs.getDataPointer(), rhs.getDataPointer(), lhs.getTotalDataSize());
}

size_t primitiveSetHash(const osg::PrimitiveSet& set)
{
    size_t seed = combine(std::hash<int>()(set.getType()), std::hash<unsigned>()(set.getMode()));
    if (set.getType() == osg::PrimitiveSet::DrawArraysPrimitiveType)
    {
        const auto& range = static_cast<const osg::DrawArrays&>(set);
        return combine(combine(seed, std::hash<int>()(range.getFirst())), std::hash<int>()(range.getCount()));
    }
    return combine(seed, hashBytes(set.getDataPointer(), set.getTotalDataSize()));
}

template <typename T, typename Same>
T* findOrAdd(std::unordered_multimap<size_t, osg::ref_ptr<T>>& seen, size_t hash, T* candidate, Same same)
{
    const auto [begin, end] = seen.equal_range(hash);
    for (auto known = begin; known != end; ++known)
    {
        if (known->second.get() == candidate || same(*known->second, *candidate))
            return known->second.get();
    }
    seen.emplace(hash, candidate);
    return candidate;
}

} // namespace

ShareDrawableData::ShareDrawableData() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN)
{
    // Hidden parts are shown later: they share as well.
    setNodeMaskOverride(~0u);
}

void ShareDrawableData::apply(osg::Drawable& drawable)
{
    shareStateSet(drawable);
}

void ShareDrawableData::apply(osg::Geometry& geometry)
{
    shareStateSet(geometry);
    // Derived geometries (shapes, text) rebuild or recolour their arrays in place.
    if (typeid(geometry) != typeid(osg::Geometry) || geometry.getDataVariance() == osg::Object::DYNAMIC)
        return;

    if (osg::Array* array = sharedArray(geometry.getVertexArray()); array != geometry.getVertexArray())
        geometry.setVertexArray(array);
    if (osg::Array* array = sharedArray(geometry.getNormalArray()); array != geometry.getNormalArray())
        geometry.setNormalArray(array);
    if (osg::Array* array = sharedArray(geometry.getColorArray()); array != geometry.getColorArray())
        geometry.setColorArray(array);
    if (osg::Array* array = sharedArray(geometry.getSecondaryColorArray()); array != geometry.getSecondaryColorArray())
        geometry.setSecondaryColorArray(array);
    if (osg::Array* array = sharedArray(geometry.getFogCoordArray()); array != geometry.getFogCoordArray())
        geometry.setFogCoordArray(array);
    for (unsigned unit = 0; unit < geometry.getNumTexCoordArrays(); ++unit)
    {
        if (osg::Array* array = sharedArray(geometry.getTexCoordArray(unit)); array != geometry.getTexCoordArray(unit))
            geometry.setTexCoordArray(unit, array);
    }
    for (unsigned index = 0; index < geometry.getNumVertexAttribArrays(); ++index)
    {
        if (osg::Array* array = sharedArray(geometry.getVertexAttribArray(index));
            array != geometry.getVertexAttribArray(index))
            geometry.setVertexAttribArray(index, array);
    }
    for (unsigned i = 0; i < geometry.getNumPrimitiveSets(); ++i)
    {
        osg::PrimitiveSet* own = geometry.getPrimitiveSet(i);
        if (osg::PrimitiveSet* set = sharedPrimitiveSet(own); set != own)
            geometry.setPrimitiveSet(i, set);
    }
}

void ShareDrawableData::shareStateSet(osg::Drawable& drawable)
{
    osg::StateSet* own = drawable.getStateSet();
    if (!own || own->getDataVariance() == osg::Object::DYNAMIC || own->getUpdateCallback() || own->getEventCallback() ||
        drawable.getDataVariance() == osg::Object::DYNAMIC)
        return;
    auto found = _stateSets.find(own);
    if (found == _stateSets.end())
    {
        _stateSets.emplace(own, SharedStateSet{own, 1});
        return;
    }
    SharedStateSet& entry = found->second;
    if (entry.stateSet.get() == own)
        return;
    if (entry.users >= kMaxStateSetUsers)
    {
        // The key points into the state set it maps to, so a full one is replaced as a whole.
        _stateSets.erase(found);
        _stateSets.emplace(own, SharedStateSet{own, 1});
        return;
    }
    ++entry.users;
    drawable.setStateSet(entry.stateSet.get());
    ++shared.stateSets;
}

osg::Array* ShareDrawableData::sharedArray(osg::Array* array)
{
    if (!array || !mayShare(*array) || array->getNumElements() == 0)
        return array;
    osg::Array* known = findOrAdd(_arrays, arrayHash(*array), array, sameArray);
    if (known != array)
        ++shared.arrays;
    return known;
}

osg::PrimitiveSet* ShareDrawableData::sharedPrimitiveSet(osg::PrimitiveSet* primitiveSet)
{
    if (!primitiveSet || !mayShare(*primitiveSet) || !shareablePrimitiveSet(*primitiveSet))
        return primitiveSet;
    osg::PrimitiveSet* known =
        findOrAdd(_primitiveSets, primitiveSetHash(*primitiveSet), primitiveSet, samePrimitiveSet);
    if (known != primitiveSet)
        ++shared.primitiveSets;
    return known;
}

ShareDrawableData::Counts shareDrawableData(osg::Node& model)
{
    ShareDrawableData visitor;
    model.accept(visitor);
    return visitor.shared;
}

} // namespace SolvoEarthUtil
