#pragma once

#include <VeltraIfc/VeltraIfcExport.h>

#include <memory>
#include <string>

namespace veltra::ifc {

/// UTF-8 of a text as IFC++ holds it (decoded from the file's \X\, \X2\ and \X4\ escapes).
/// Invalid code points become U+FFFD.
VELTRAIFC_EXPORT std::string toUtf8(const std::wstring& text);

/// UTF-8 of an optional IFC text attribute (IfcLabel, IfcText, IfcIdentifier,
/// IfcGloballyUniqueId: anything with a `m_value` wstring), "" when absent.
template <typename Attribute>
std::string textOf(const std::shared_ptr<Attribute>& attribute)
{
    return attribute ? toUtf8(attribute->m_value) : std::string();
}

} // namespace veltra::ifc
