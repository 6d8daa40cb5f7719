#include "GeneratedIfc.h"

#include <VeltraIfc/IfcDocument.h>

#include <gtest/gtest.h>

using veltra::ifc::IfcDocument;
using veltra::ifc::IfcError;
using namespace veltra::test;

namespace {

struct RejectedText
{
    const char* what;
    std::string text;
    const char* messagePart;
};

std::ostream& operator<<(std::ostream& out, const RejectedText& rejected)
{
    return out << rejected.what;
}

const std::string kHeaderOnly = twoWallIfc().substr(0, twoWallIfc().find("DATA;"));

class IfcDocumentRejects : public ::testing::TestWithParam<RejectedText>
{};

} // namespace

TEST_P(IfcDocumentRejects, WithAMessageNamingFileAndReason)
{
    try
    {
        IfcDocument::parse(GetParam().text, "broken.ifc");
        FAIL() << "parsed";
    }
    catch (const IfcError& error)
    {
        const std::string message = error.what();
        EXPECT_NE(message.find("broken.ifc"), std::string::npos) << message;
        EXPECT_NE(message.find(GetParam().messagePart), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IfcDocumentRejects,
    ::testing::Values(
        RejectedText{"not IFC", "solid cube\n  facet normal 0 0 1\nendsolid\n", "not an IFC file"},
        RejectedText{"empty", "", "not an IFC file"},
        RejectedText{"garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "not an IFC file"},
        RejectedText{"no schema", twoWallIfcWith("FILE_SCHEMA", ""), "no FILE_SCHEMA"},
        RejectedText{"IFC4X3", twoWallIfcWith("FILE_SCHEMA", "FILE_SCHEMA(('IFC4X3_ADD2'));"), "IFC4X3_ADD2"},
        RejectedText{"IFC2X2", twoWallIfcWith("FILE_SCHEMA", "FILE_SCHEMA(('IFC2X2_FINAL'));"), "IFC2X2_FINAL"},
        RejectedText{"truncated", twoWallIfc().substr(0, twoWallIfc().size() / 2), "cut short"},
        RejectedText{"empty data section", kHeaderOnly + "DATA;\nENDSEC;\nEND-ISO-10303-21;\n", "no IFC entities"}),
    [](const ::testing::TestParamInfo<RejectedText>& param) {
        std::string name = param.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(IfcDocument, ReadsSchemaAndProjectName)
{
    const IfcDocument document = IfcDocument::parse(twoWallIfc(), "two-walls.ifc");
    EXPECT_EQ(document.schema(), "IFC4");
    EXPECT_EQ(document.projectName(), "Two Walls");
}
