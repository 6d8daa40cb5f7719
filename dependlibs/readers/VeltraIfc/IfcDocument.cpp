#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcLibraryLock.h>
#include <VeltraIfc/IfcText.h>

#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/IFC4/include/IfcProject.h>
#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/reader/ReaderSTEP.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace veltra::ifc {

namespace {

constexpr const char* kMagic = "ISO-10303-21;";
constexpr const char* kEnd = "END-ISO-10303-21;";

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The end marker, ignoring what trails it (blanks, a second newline, a signature line).
bool hasEndMarker(const std::string& text)
{
    const size_t from = text.size() > 4096 ? text.size() - 4096 : 0;
    return text.find(kEnd, from) != std::string::npos;
}

} // namespace

std::string fileSchemaOf(const std::string& text)
{
    // The header is small; the schema is the first quoted text after FILE_SCHEMA.
    const size_t headerEnd = std::min(text.size(), text.find("ENDSEC;"));
    const size_t at = upper(text.substr(0, std::min(headerEnd, size_t{64} * 1024))).find("FILE_SCHEMA");
    if (at == std::string::npos)
        return {};
    const size_t open = text.find('\'', at);
    const size_t close = open == std::string::npos ? open : text.find('\'', open + 1);
    if (close == std::string::npos || close > headerEnd)
        return {};
    return upper(text.substr(open + 1, close - open - 1));
}

bool isReadableSchema(const std::string& schema)
{
    return schema == "IFC2X3" || schema == "IFC4";
}

IfcDocument::IfcDocument(std::shared_ptr<BuildingModel> model, std::string schema)
    : _model(std::move(model)), _schema(std::move(schema))
{
}

IfcDocument IfcDocument::parse(std::string bytes, const std::string& name)
{
    const size_t start = bytes.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (start == std::string::npos || bytes.compare(start, std::strlen(kMagic), kMagic) != 0)
        throw IfcError(name + ": not an IFC file (no ISO-10303-21 header)");
    const std::string schema = fileSchemaOf(bytes);
    if (schema.empty())
        throw IfcError(name + ": the header names no FILE_SCHEMA");
    if (!isReadableSchema(schema))
        throw IfcError(name + ": the IFC schema " + schema + " is not supported (IFC2X3 and IFC4 are)");
    if (!hasEndMarker(bytes))
        throw IfcError(name + ": the file is cut short (no END-ISO-10303-21;)");

    auto model = std::make_shared<BuildingModel>();
    try
    {
        std::lock_guard<std::mutex> lock(ifcLibraryLock());
        ReaderSTEP reader;
        // Parsing from memory: the file variant of this call switches the process's locale.
        reader.loadModelFromString(bytes, model);
    }
    catch (const std::exception& error)
    {
        throw IfcError(name + ": " + error.what());
    }
    catch (...)
    {
        throw IfcError(name + ": the IFC reader failed");
    }
    if (model->getMapIfcEntities().empty())
        throw IfcError(name + ": no IFC entities could be read");
    return IfcDocument(std::move(model), schema);
}

std::string IfcDocument::projectName() const
{
    const std::shared_ptr<IfcProject> project = _model->getIfcProject();
    return project ? textOf(project->m_Name) : std::string();
}

} // namespace veltra::ifc
