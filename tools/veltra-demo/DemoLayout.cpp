#include "veltra-demo/DemoLayout.h"

namespace veltra::demo {

namespace {

constexpr float kBay = 6.0f;          // column spacing, two bays each way
constexpr float kStoreyHeight = 3.5f;
constexpr float kSlabDepth = 0.25f;
constexpr float kHalfWidth = kBay;    // the outer column lines sit at +-kBay

// Kind codes, the hundreds digit of an id.
enum Code
{
    FoundationCode = 1,
    ColumnCode = 2,
    SlabCode = 3,
    WallCode = 4,
    RoofCode = 5,
    ScaffoldCode = 8,
    CraneCode = 9,
};

const osg::Vec4 kFooting(0.52f, 0.52f, 0.50f, 1.0f);
const osg::Vec4 kConcrete(0.80f, 0.80f, 0.77f, 1.0f);
const osg::Vec4 kSlab(0.70f, 0.70f, 0.72f, 1.0f);
const osg::Vec4 kBrick(0.74f, 0.44f, 0.33f, 1.0f);
const osg::Vec4 kRoofing(0.42f, 0.47f, 0.53f, 1.0f);
const osg::Vec4 kCoping(0.78f, 0.74f, 0.66f, 1.0f);
const osg::Vec4 kSteelTube(0.64f, 0.67f, 0.70f, 1.0f);
const osg::Vec4 kCraneYellow(0.96f, 0.76f, 0.10f, 1.0f);
const osg::Vec4 kBallast(0.35f, 0.35f, 0.35f, 1.0f);

int partId(int level, Code code, int index)
{
    return level * 1000 + code * 100 + index;
}

struct PartList
{
    std::vector<DemoPart> parts;

    void add(int level, Code code, int index, const char* kind, const std::string& group, const osg::Vec3& centre,
             const osg::Vec3& size, const osg::Vec4& colour)
    {
        parts.push_back(DemoPart{partId(level, code, index), kind, group, centre, size, colour});
    }
};

float gridLine(int i)
{
    return (float(i) - 1.0f) * kBay;
}

void addFoundations(PartList& list)
{
    for (int i = 0; i < 9; ++i)
        list.add(0, FoundationCode, i + 1, "Footing", "Foundations", osg::Vec3(gridLine(i % 3), gridLine(i / 3), -0.6f),
                 osg::Vec3(1.6f, 1.6f, 0.8f), kFooting);
    const float side = 2 * kHalfWidth + 0.6f;
    list.add(0, FoundationCode, 10, "Ground slab", "Foundations", osg::Vec3(0, 0, -0.1f), osg::Vec3(side, side, 0.2f),
             kSlab);
}

void addStorey(PartList& list, int storey)
{
    const std::string group = storeyGroup(storey);
    const float base = float(storey - 1) * kStoreyHeight;
    const float clearHeight = kStoreyHeight - kSlabDepth;
    for (int i = 0; i < 9; ++i)
        list.add(storey, ColumnCode, i + 1, "Column", group,
                 osg::Vec3(gridLine(i % 3), gridLine(i / 3), base + clearHeight / 2), osg::Vec3(0.4f, 0.4f, clearHeight),
                 kConcrete);

    const float side = 2 * kHalfWidth + 0.6f;
    list.add(storey, SlabCode, 1, "Slab", group, osg::Vec3(0, 0, base + clearHeight + kSlabDepth / 2),
             osg::Vec3(side, side, kSlabDepth), kSlab);

    // Infill between the outer columns, flush with the slab edge.
    const float length = 2 * kHalfWidth - 0.4f;
    const float line = kHalfWidth + 0.1f;
    const float z = base + clearHeight / 2;
    list.add(storey, WallCode, 1, "Wall", group, osg::Vec3(0, -line, z), osg::Vec3(length, 0.2f, clearHeight), kBrick);
    list.add(storey, WallCode, 2, "Wall", group, osg::Vec3(line, 0, z), osg::Vec3(0.2f, length, clearHeight), kBrick);
    list.add(storey, WallCode, 3, "Wall", group, osg::Vec3(0, line, z), osg::Vec3(length, 0.2f, clearHeight), kBrick);
    list.add(storey, WallCode, 4, "Wall", group, osg::Vec3(-line, 0, z), osg::Vec3(0.2f, length, clearHeight), kBrick);
}

void addRoof(PartList& list)
{
    const int level = kDemoStoreys + 1;
    const float top = kDemoStoreys * kStoreyHeight;
    list.add(level, RoofCode, 1, "Plant room", "Roof", osg::Vec3(2.0f, 2.0f, top + 1.4f), osg::Vec3(5.0f, 4.0f, 2.8f),
             kRoofing);
    const float edge = kHalfWidth + 0.2f;
    const float side = 2 * kHalfWidth + 0.6f;
    list.add(level, RoofCode, 2, "Parapet", "Roof", osg::Vec3(0, -edge, top + 0.5f), osg::Vec3(side, 0.2f, 1.0f), kCoping);
    list.add(level, RoofCode, 3, "Parapet", "Roof", osg::Vec3(edge, 0, top + 0.5f), osg::Vec3(0.2f, side, 1.0f), kCoping);
    list.add(level, RoofCode, 4, "Parapet", "Roof", osg::Vec3(0, edge, top + 0.5f), osg::Vec3(side, 0.2f, 1.0f), kCoping);
    list.add(level, RoofCode, 5, "Parapet", "Roof", osg::Vec3(-edge, 0, top + 0.5f), osg::Vec3(0.2f, side, 1.0f), kCoping);
}

// An open scaffold along the south face (standards and ledgers, so the building stays visible
// through it) and a tower crane to the east; all of it is taken down by the last task.
void addTemporaryWorks(PartList& list)
{
    const std::string group = "Temporary works";
    const float face = -(kHalfWidth + 1.2f);
    const float height = kDemoStoreys * kStoreyHeight + 1.5f;
    int index = 1;
    for (int i = 0; i < 5; ++i)
        list.add(0, ScaffoldCode, index++, "Scaffold standard", group,
                 osg::Vec3(-kHalfWidth + float(i) * kHalfWidth / 2, face, height / 2), osg::Vec3(0.08f, 0.08f, height),
                 kSteelTube);
    for (int lift = 1; lift <= kDemoStoreys; ++lift)
        list.add(0, ScaffoldCode, index++, "Scaffold ledger", group,
                 osg::Vec3(0, face, float(lift) * kStoreyHeight + 0.1f), osg::Vec3(2 * kHalfWidth + 0.4f, 0.08f, 0.08f),
                 kSteelTube);

    const float mastX = kHalfWidth + 6.0f;
    const float mastHeight = height + 8.0f;
    list.add(0, CraneCode, 1, "Crane mast", group, osg::Vec3(mastX, 0, mastHeight / 2), osg::Vec3(1.6f, 1.6f, mastHeight),
             kCraneYellow);
    list.add(0, CraneCode, 2, "Crane jib", group, osg::Vec3(mastX - 13.0f, 0, mastHeight + 0.5f),
             osg::Vec3(26.0f, 1.0f, 1.0f), kCraneYellow);
    list.add(0, CraneCode, 3, "Crane counter-jib", group, osg::Vec3(mastX + 4.5f, 0, mastHeight + 0.5f),
             osg::Vec3(9.0f, 1.2f, 0.8f), kCraneYellow);
    list.add(0, CraneCode, 4, "Crane counterweight", group, osg::Vec3(mastX + 8.0f, 0, mastHeight - 0.6f),
             osg::Vec3(2.0f, 2.0f, 1.6f), kBallast);
    list.add(0, CraneCode, 5, "Crane cab", group, osg::Vec3(mastX - 1.4f, 0, mastHeight - 0.8f),
             osg::Vec3(1.2f, 1.4f, 1.4f), kCoping);
}

} // namespace

std::string storeyGroup(int storey)
{
    return "Storey " + std::to_string(storey);
}

std::vector<DemoPart> demoParts()
{
    PartList list;
    addFoundations(list);
    for (int storey = 1; storey <= kDemoStoreys; ++storey)
        addStorey(list, storey);
    addRoof(list);
    addTemporaryWorks(list);
    return list.parts;
}

} // namespace veltra::demo
