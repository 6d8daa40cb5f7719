#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osgDB/ReaderWriter>

#include <string>

/// The "nodemark" pseudo-loader: reads "<file>.nodemark" as <file> (through the registry's file
/// cache when one is set) and runs the highlight visitor found in the read options under the
/// plug-in data key "HighLightVistor" over the new part. Paged nodes of the new part without read
/// options of their own get these, so the parts paged in below it are marked too. The kits library
/// registers one instance with the osgDB registry while it is loaded.
///
/// Threads: readNode runs on the database pager's threads; the visitor runs under one lock shared
/// by all loads.
class SOLVOEARTHKITS_EXPORT NodeMarkPseudoLoader : public osgDB::ReaderWriter
{
public:
    NodeMarkPseudoLoader();

    const char* className() const override { return "NodeMarkPseudoLoader"; }

    /// True for "nodemark" in any letter case.
    bool acceptsExtension(const std::string& extension) const override;

    using osgDB::ReaderWriter::readNode;
    using osgDB::ReaderWriter::readObject;
    /// The same as readNode.
    ReadResult readObject(const std::string& fileName, const osgDB::Options* options) const override;
    /// Reads the file named without the ".nodemark" suffix and marks it with the options' visitor.
    ReadResult readNode(const std::string& fileName, const osgDB::Options* options) const override;

protected:
    ~NodeMarkPseudoLoader() override = default;
};
