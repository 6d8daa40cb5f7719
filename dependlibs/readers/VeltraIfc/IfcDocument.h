#pragma once

#include <VeltraIfc/VeltraIfcExport.h>

#include <memory>
#include <stdexcept>
#include <string>

class BuildingModel;

namespace veltra::ifc {

/// Why an IFC file could not be read; the message names the file and the reason.
class IfcError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// A parsed IFC file (STEP physical file, schema IFC2X3 or IFC4). IFC2X3 files are read into the
/// IFC4 entity classes, so callers work with one set of classes.
class VELTRAIFC_EXPORT IfcDocument
{
public:
    /// Parses `bytes`; `name` is used in messages only. Throws IfcError for text that is not an
    /// IFC file, a schema this reader cannot read (the message names it), a file cut short
    /// (no closing END-ISO-10303-21;) and a file with no entities. Never touches the process's
    /// locale: the text is parsed from memory.
    static IfcDocument parse(std::string bytes, const std::string& name);

    /// The FILE_SCHEMA of the header as written ("IFC2X3", "IFC4").
    const std::string& schema() const { return _schema; }

    /// The name of the file's IfcProject, or "" when it has none.
    std::string projectName() const;

    const std::shared_ptr<BuildingModel>& model() const { return _model; }

private:
    IfcDocument(std::shared_ptr<BuildingModel> model, std::string schema);

    std::shared_ptr<BuildingModel> _model;
    std::string _schema;
};

/// The FILE_SCHEMA named in the header of an IFC text, upper case, or "" when the text has none.
VELTRAIFC_EXPORT std::string fileSchemaOf(const std::string& text);

/// Whether this reader reads that schema.
VELTRAIFC_EXPORT bool isReadableSchema(const std::string& schema);

} // namespace veltra::ifc
