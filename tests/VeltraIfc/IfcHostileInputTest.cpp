// Broken and hostile input through the reader: every read ends, with a model or an error result,
// never a crash, a hang or an empty model reported as loaded. Run under ASan+UBSan with the unit label.
#include "GeneratedIfc.h"
#include "SceneQueries.h"
#include "SharedData.h"

#include <SolvoEarthUtil/loading/ReadNodeFromMemory.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace veltra::test;
using ReadResult = osgDB::ReaderWriter::ReadResult;

namespace {

ReadResult readIfcBytes(const std::string& bytes)
{
    SolvoEarthUtil::useBundledReaders();
    return SolvoEarthUtil::readNodeFromMemory(bytes, "hostile.ifc", std::string(), nullptr);
}

// A result the viewer can act on: a model with at least one part, or an error with a message.
void expectModelOrError(ReadResult result, const std::string& what)
{
    if (result.validNode())
    {
        SceneIndex index(*result.getNode());
        EXPECT_GT(index.geodeCount, 0u) << what << ": a model without parts reported as loaded";
        return;
    }
    EXPECT_EQ(result.status(), ReadResult::ERROR_IN_READING_FILE) << what;
    EXPECT_FALSE(result.message().empty()) << what;
}

struct HostileCase
{
    const char* what;
    std::string text;
    const char* errorPart; // "" when a model is acceptable too
};

std::ostream& operator<<(std::ostream& out, const HostileCase& hostile)
{
    return out << hostile.what;
}

// Wall B's profile as one polyline of `points` corners, all at the same place.
std::string polylineProfileOf(int points)
{
    std::string text = twoWallIfcWith("#207=", "#207=IFCARBITRARYCLOSEDPROFILEDEF(.AREA.,$,#300);");
    std::string lines = "#300=IFCPOLYLINE((#301";
    for (int i = 1; i < points; ++i)
        lines += ",#301";
    lines += "));\n#301=IFCCARTESIANPOINT((0.,0.));\n";
    return text.insert(text.rfind("ENDSEC;"), lines);
}

std::string withoutGeometry()
{
    const std::string noShape =
        twoWallIfcWith("#100=", "#100=IFCWALL('0WallA00000000000000001',$,'Wall A',$,$,#101,$,$,$);");
    return withLine(noShape, "#200=", "#200=IFCWALL('0WallB00000000000000001',$,'Wall B',$,$,#201,$,$,$);");
}

class IfcHostileInput : public ::testing::TestWithParam<HostileCase>
{};

} // namespace

TEST_P(IfcHostileInput, EndsInAModelOrAnError)
{
    ReadResult result = readIfcBytes(GetParam().text);
    expectModelOrError(result, GetParam().what);
    if (*GetParam().errorPart)
    {
        EXPECT_FALSE(result.validNode()) << GetParam().what;
        EXPECT_NE(result.message().find(GetParam().errorPart), std::string::npos) << result.message();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IfcHostileInput,
    ::testing::Values(
        HostileCase{"wrong schema", twoWallIfcWith("FILE_SCHEMA", "FILE_SCHEMA(('IFC4X3'));"), "IFC4X3"},
        HostileCase{"no element with geometry", withoutGeometry(), "no element with geometry"},
        HostileCase{"aggregation loop",
                    twoWallIfcWith("#70=", "#70=IFCRELAGGREGATES('0Rel0000000000000000004',$,$,$,#50,(#30));"),
                    "leads back"},
        HostileCase{"containment loop",
                    twoWallIfcWith("#70=", "#70=IFCRELCONTAINEDINSPATIALSTRUCTURE('0R',$,$,$,(#100,#30),#50);"),
                    "leads back"},
        HostileCase{"absurd instance number",
                    twoWallIfcWith("#223=", "#99999999999999999999999=IFCCOLOURRGB($,0.1,0.3,0.9);"), ""},
        HostileCase{"absurd reference",
                    twoWallIfcWith("#206=", "#206=IFCEXTRUDEDAREASOLID(#99999999999999999999999,#21,#23,2500.);"), ""},
        HostileCase{"negative instance number", twoWallIfcWith("#223=", "#-5=IFCCOLOURRGB($,0.1,0.3,0.9);"), ""},
        HostileCase{"missing reference", twoWallIfcWith("#206=", "#206=IFCEXTRUDEDAREASOLID(#999,#21,#23,2500.);"), ""},
        HostileCase{"placement of itself", twoWallIfcWith("#201=", "#201=IFCLOCALPLACEMENT(#201,#21);"), ""},
        HostileCase{"wrong entity type", twoWallIfcWith("#206=", "#206=IFCCARTESIANPOINT((0.,0.,0.));"), ""},
        HostileCase{"too few arguments", twoWallIfcWith("#206=", "#206=IFCEXTRUDEDAREASOLID(#207);"), ""},
        HostileCase{"huge depth", twoWallIfcWith("#206=", "#206=IFCEXTRUDEDAREASOLID(#207,#21,#23,1.E308);"), ""},
        HostileCase{"not a number", twoWallIfcWith("#206=", "#206=IFCEXTRUDEDAREASOLID(#207,#21,#23,nan);"), ""},
        HostileCase{"zero direction", twoWallIfcWith("#23=", "#23=IFCDIRECTION((0.,0.,0.));"), ""},
        HostileCase{"unterminated string", twoWallIfcWith("#100=", "#100=IFCWALL('0WallA,$,'Wall A"), ""},
        HostileCase{"gigantic polyline", polylineProfileOf(200000), ""}));

TEST(IfcHostileBytes, ByteFlipsOfAGeneratedFile)
{
    const std::string original = twoWallIfc();
    const char replacements[] = {'#', '(', ')', ',', '\'', '$', '9', '.', ';', '\0'};
    size_t reads = 0;
    // Every third byte, each time with another replacement: all parts of the file, all kinds of damage.
    for (size_t at = 0; at < original.size(); at += 3, ++reads)
    {
        std::string damaged = original;
        damaged[at] = replacements[reads % sizeof(replacements)];
        expectModelOrError(readIfcBytes(damaged), "byte " + std::to_string(at));
    }
    EXPECT_GT(reads, 500u);
}

TEST(IfcHostileBytes, TruncationsOfARealFile)
{
    VELTRA_SHARED_DATA_OR_SKIP(path, "ifc/IfcOpenHouse_IFC4.ifc");
    std::ifstream in(path, std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t step = original.size() / 24 + 1;
    for (size_t length = step / 2; length < original.size(); length += step)
    {
        const std::string cut = original.substr(0, length);
        ReadResult plain = readIfcBytes(cut);
        EXPECT_FALSE(plain.validNode()) << "cut at " << length;
        EXPECT_NE(plain.message().find("cut short"), std::string::npos) << plain.message();
        // Closed again after the cut: the parser and the geometry see a file that ends mid-model.
        expectModelOrError(readIfcBytes(cut + "\n');\nENDSEC;\nEND-ISO-10303-21;\n"),
                           "closed at " + std::to_string(length));
    }
}
