#include "IfcModelIndex.h"

#include "ScheduleError.h"

namespace veltra::schedule {

namespace {

ifc::IfcDocument parseDocument(std::string bytes, const std::string& name)
{
    try
    {
        return ifc::IfcDocument::parse(std::move(bytes), name);
    }
    catch (const ifc::IfcError& error)
    {
        throw ScheduleError(error.what());
    }
}

} // namespace

IfcModelIndex::IfcModelIndex(std::string bytes, const std::string& name)
    : _document(parseDocument(std::move(bytes), name)), _elements(ifc::listElements(_document))
{
    for (const ifc::BuildingElement& element : _elements)
    {
        _byGlobalId.emplace(element.globalId, element.elementId);
        _byStep.emplace(element.stepId, element.elementId);
        _elementIds.insert(element.elementId);
    }
}

int IfcModelIndex::elementIdOfGlobalId(const std::string& globalId) const
{
    const auto found = _byGlobalId.find(globalId);
    return found == _byGlobalId.end() ? -1 : found->second;
}

int IfcModelIndex::elementIdOfStep(int stepId) const
{
    const auto found = _byStep.find(stepId);
    return found == _byStep.end() ? -1 : found->second;
}

bool IfcModelIndex::hasElementId(int elementId) const
{
    return _elementIds.count(elementId) > 0;
}

} // namespace veltra::schedule
