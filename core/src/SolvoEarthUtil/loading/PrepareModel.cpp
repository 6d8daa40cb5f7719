#include <SolvoEarthUtil/loading/PrepareModel.h>

#include <SolvoEarthUtil/loading/ShareDrawableData.h>

#include <osg/BufferObject>
#include <osg/CopyOp>
#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osg/Notify>
#include <osg/StateSet>

#include <system_error>
#include <thread>
#include <typeinfo>
#include <unordered_set>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace SolvoEarthUtil {

namespace {

// Copies nodes and drawables, and what only one of them uses; what several share stays shared.
class CompactCopy : public osg::CopyOp
{
public:
    CompactCopy() : osg::CopyOp(DEEP_COPY_NODES | DEEP_COPY_DRAWABLES) {}

    osg::StateSet* operator()(const osg::StateSet* stateSet) const override { return copyIfOwn(stateSet); }
    osg::Array* operator()(const osg::Array* array) const override { return copyIfOwn(array); }
    osg::PrimitiveSet* operator()(const osg::PrimitiveSet* primitiveSet) const override
    {
        return copyIfOwn(primitiveSet);
    }

private:
    template <typename T>
    static T* copyIfOwn(const T* object)
    {
        if (!object)
            return nullptr;
        if (object->referenceCount() > 1)
            return const_cast<T*>(object);
        return osg::clone(object, osg::CopyOp::SHALLOW_COPY);
    }
};

// The copy is made on a thread of its own so that the C library gives it another heap than the
// one the reader filled: freed as a whole, that one can then be handed back to the system.
void compact(osg::ref_ptr<osg::Node>& model)
{
    try
    {
        std::thread copier([&model] {
            osg::ref_ptr<osg::Node> copy = osg::clone(model.get(), CompactCopy());
            model = copy;
#if defined(__GLIBC__)
            malloc_trim(0);
#endif
        });
        copier.join();
    }
    catch (const std::system_error& error)
    {
        // Without a thread the copy would land in the same heap and gain nothing: the model stays.
        OSG_NOTICE << "PrepareModel: no thread to compact the model in (" << error.what() << ")" << std::endl;
    }
}

// Draws plain geometries from vertex and index buffers shared by consecutive parts.
class ShareBuffers : public osg::NodeVisitor
{
public:
    ShareBuffers() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN)
    {
        // Hidden parts are shown later: they are prepared as well.
        setNodeMaskOverride(~0u);
    }

    using osg::NodeVisitor::apply;
    void apply(osg::Geometry& geometry) override
    {
        // Derived geometries manage their own arrays; dynamic ones change them.
        if (typeid(geometry) != typeid(osg::Geometry) || geometry.getDataVariance() == osg::Object::DYNAMIC)
            return;
        osg::Geometry::ArrayList arrays;
        geometry.getArrayList(arrays);
        for (const osg::ref_ptr<osg::Array>& array : arrays)
            put(array.get(), _vertices);
        for (unsigned i = 0; i < geometry.getNumPrimitiveSets(); ++i)
        {
            if (osg::DrawElements* elements = geometry.getPrimitiveSet(i)->getDrawElements())
                put(elements, _indices);
        }
        // Only now: switching buffers on would first give the arrays a buffer of the geometry's.
        geometry.setUseDisplayList(false);
        geometry.setUseVertexBufferObjects(true);
    }

private:
    struct Filling
    {
        osg::ref_ptr<osg::BufferObject> buffer;
        size_t bytes = 0;
    };

    void put(osg::BufferData* data, Filling& filling)
    {
        // Data that changes keeps a buffer of its own, so a change uploads only that data.
        if (!data || data->getDataVariance() == osg::Object::DYNAMIC || data->getModifiedCallback() ||
            _buffers.count(data->getBufferObject()))
            return;
        const size_t size = data->getTotalDataSize();
        if (!filling.buffer || filling.bytes + size > kSharedBufferBytes ||
            filling.buffer->getNumBufferData() >= kSharedBufferEntries)
        {
            filling.buffer = data->asArray() ? static_cast<osg::BufferObject*>(new osg::VertexBufferObject)
                                             : static_cast<osg::BufferObject*>(new osg::ElementBufferObject);
            filling.bytes = 0;
            _buffers.insert(filling.buffer.get());
        }
        data->setBufferObject(filling.buffer.get());
        filling.bytes += size;
    }

    std::unordered_set<const osg::BufferObject*> _buffers; // made here so far
    Filling _vertices;
    Filling _indices;
};

} // namespace

void prepareLoadedModel(osg::ref_ptr<osg::Node>& model)
{
    if (!model)
        return;
    shareDrawableData(*model);
    compact(model);
    ShareBuffers buffers;
    model->accept(buffers);
}

} // namespace SolvoEarthUtil
