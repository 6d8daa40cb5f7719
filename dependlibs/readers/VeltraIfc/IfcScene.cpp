#include <VeltraIfc/IfcScene.h>

#include <VeltraIfc/ElementMesh.h>
#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcElements.h>
#include <VeltraIfc/IfcLibraryLock.h>
#include <VeltraIfc/IfcText.h>
#include <VeltraIfc/SpatialTree.h>
#include <VeltraIfc/StructureLoops.h>

#include <ifcpp/geometry/Carve/GeometryConverter.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>

#include <new>

namespace veltra::ifc {

namespace {

// What the geometry conversion reports about single items (a failed boolean, an unknown curve):
// such an item is left out and the element keeps the rest, so these are notes, not failures.
struct ConversionNotes
{
    int errors = 0;
    std::wstring first;

    static void collect(void* self, std::shared_ptr<StatusCallback::Message> message)
    {
        auto* notes = static_cast<ConversionNotes*>(self);
        if (!message || (message->m_message_type != StatusCallback::MESSAGE_TYPE_ERROR &&
                         message->m_message_type != StatusCallback::MESSAGE_TYPE_WARNING))
            return;
        if (notes->errors++ == 0)
            notes->first = message->m_message_text;
    }
};

// The converter makes itself the model's message target; the model outlives it.
class ConverterScope
{
public:
    explicit ConverterScope(std::shared_ptr<BuildingModel> model) : _model(model), _converter(_model) {}
    ~ConverterScope() { _model->setMessageTarget(nullptr); }
    ConverterScope(const ConverterScope&) = delete;
    ConverterScope& operator=(const ConverterScope&) = delete;

    GeometryConverter& converter() { return _converter; }

private:
    std::shared_ptr<BuildingModel> _model;
    GeometryConverter _converter;
};

} // namespace

osg::ref_ptr<osg::MatrixTransform> buildScene(const IfcDocument& document, const std::string& sourceName)
{
    const std::vector<BuildingElement> elements = listElements(document);
    if (const int loop = findStructureLoop(*document.model()))
        throw IfcError(sourceName + ": the spatial structure leads back into #" + std::to_string(loop));
    std::lock_guard<std::mutex> lock(ifcLibraryLock());
    try
    {
        ConversionNotes notes; // outlives the converter that reports to it
        ConverterScope scope(document.model());
        GeometryConverter& converter = scope.converter();
        converter.setMessageCallBack(&notes, &ConversionNotes::collect);
        converter.convertGeometry();
        if (notes.errors > 0)
            OSG_INFO << "IfcScene: " << sourceName << ": " << notes.errors
                     << " geometry items left out, first: " << toUtf8(notes.first) << std::endl;

        SpatialTree tree(document, osgDB::getStrippedName(sourceName));
        SurfaceStyles styles;
        const auto& shapes = converter.getShapeInputData();
        const auto& entities = document.model()->getMapIfcEntities();
        int drawn = 0;
        for (const BuildingElement& element : elements)
        {
            const auto shape = shapes.find(element.stepId);
            const auto entity = entities.find(element.stepId);
            const auto ifcElement =
                entity == entities.end() ? nullptr : std::dynamic_pointer_cast<IfcElement>(entity->second);
            if (shape == shapes.end() || !shape->second || !ifcElement)
                continue;
            osg::ref_ptr<osg::Geode> geode = makeElementGeode(*shape->second, styles);
            if (!geode)
                continue;
            geode->setName(element.nodeName);
            describeNode(*geode, element.ifcClass, element.name, element.globalId);
            tree.containerOf(*ifcElement)->addChild(geode.get());
            ++drawn;
        }
        if (drawn == 0)
            throw IfcError(sourceName + ": no element with geometry");
        return tree.top();
    }
    catch (const IfcError&)
    {
        throw;
    }
    catch (const std::bad_alloc&)
    {
        throw IfcError(sourceName + ": out of memory while building the geometry");
    }
    catch (const std::exception& error)
    {
        throw IfcError(sourceName + ": the geometry could not be built: " + error.what());
    }
    catch (...)
    {
        throw IfcError(sourceName + ": the geometry could not be built");
    }
}

osg::ref_ptr<osg::MatrixTransform> readIfcScene(std::string bytes, const std::string& sourceName)
{
    const IfcDocument document = IfcDocument::parse(std::move(bytes), sourceName);
    return buildScene(document, sourceName);
}

} // namespace veltra::ifc
