#include "GeneratedIfc.h"

#include <sstream>
#include <stdexcept>

namespace veltra::test {

namespace {

const char* const kTwoWalls = R"(ISO-10303-21;
HEADER;
FILE_DESCRIPTION(('ViewDefinition [DesignTransferView]'),'2;1');
FILE_NAME('two-walls.ifc','2026-01-01T00:00:00',('Veltra tests'),(''),'','','');
FILE_SCHEMA(('IFC4'));
ENDSEC;
DATA;
#1=IFCPROJECT('0Proj000000000000000001',$,'Two Walls',$,$,$,$,(#20),#10);
#10=IFCUNITASSIGNMENT((#11));
#11=IFCSIUNIT(*,.LENGTHUNIT.,.MILLI.,.METRE.);
#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#23=IFCDIRECTION((0.,0.,1.));
#30=IFCSITE('0Site000000000000000001',$,'Site',$,$,#31,$,$,.ELEMENT.,$,$,$,$,$);
#31=IFCLOCALPLACEMENT($,#21);
#40=IFCBUILDING('0Bldg000000000000000001',$,'Building',$,$,#41,$,$,.ELEMENT.,$,$,$);
#41=IFCLOCALPLACEMENT(#31,#21);
#50=IFCBUILDINGSTOREY('0Stor000000000000000001',$,'Ground Floor',$,$,#51,$,$,.ELEMENT.,0.);
#51=IFCLOCALPLACEMENT(#41,#21);
#60=IFCRELAGGREGATES('0Rel0000000000000000001',$,$,$,#1,(#30));
#61=IFCRELAGGREGATES('0Rel0000000000000000002',$,$,$,#30,(#40));
#62=IFCRELAGGREGATES('0Rel0000000000000000003',$,$,$,#40,(#50));
#70=IFCRELCONTAINEDINSPATIALSTRUCTURE('0Rel0000000000000000004',$,$,$,(#100,#200),#50);
#100=IFCWALL('0WallA00000000000000001',$,'Wall A',$,$,#101,#102,$,.STANDARD.);
#101=IFCLOCALPLACEMENT(#51,#103);
#103=IFCAXIS2PLACEMENT3D(#104,$,$);
#104=IFCCARTESIANPOINT((1000.,2000.,0.));
#102=IFCPRODUCTDEFINITIONSHAPE($,$,(#105));
#105=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#106));
#106=IFCEXTRUDEDAREASOLID(#107,#21,#23,3000.);
#107=IFCRECTANGLEPROFILEDEF(.AREA.,$,#108,4000.,200.);
#108=IFCAXIS2PLACEMENT2D(#109,$);
#109=IFCCARTESIANPOINT((2000.,100.));
#120=IFCSTYLEDITEM(#106,(#121),$);
#121=IFCSURFACESTYLE('Brick',.BOTH.,(#122));
#122=IFCSURFACESTYLERENDERING(#123,0.,$,$,$,$,$,$,.FLAT.);
#123=IFCCOLOURRGB($,0.8,0.2,0.1);
#200=IFCWALL('0WallB00000000000000001',$,'Wall:Ext:777',$,$,#201,#202,$,.STANDARD.);
#201=IFCLOCALPLACEMENT(#51,#21);
#202=IFCPRODUCTDEFINITIONSHAPE($,$,(#205));
#205=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#206));
#206=IFCEXTRUDEDAREASOLID(#207,#21,#23,2500.);
#207=IFCRECTANGLEPROFILEDEF(.AREA.,$,#208,200.,3000.);
#208=IFCAXIS2PLACEMENT2D(#209,$);
#209=IFCCARTESIANPOINT((100.,1500.));
#220=IFCSTYLEDITEM(#206,(#221),$);
#221=IFCSURFACESTYLE('Glass',.BOTH.,(#222));
#222=IFCSURFACESTYLERENDERING(#223,0.5,$,$,$,$,$,$,.FLAT.);
#223=IFCCOLOURRGB($,0.1,0.3,0.9);
ENDSEC;
END-ISO-10303-21;
)";

} // namespace

std::string twoWallIfc()
{
    return kTwoWalls;
}

std::string twoWallIfcWith(const std::string& lineStart, const std::string& replacement)
{
    return withLine(kTwoWalls, lineStart, replacement);
}

std::string withLine(std::string text, const std::string& lineStart, const std::string& replacement)
{
    const size_t at = text.find("\n" + lineStart);
    if (at == std::string::npos)
        throw std::invalid_argument("no line starts with " + lineStart);
    const size_t end = text.find('\n', at + 1);
    text.replace(at + 1, end - at - 1, replacement);
    return text;
}

} // namespace veltra::test
