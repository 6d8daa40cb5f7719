#include <SolvoEarthUtil/loading/ShareDrawableData.h>

#include "PartFixtures.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/ShapeDrawable>

#include <gtest/gtest.h>

#include <functional>
#include <set>

using SolvoEarthUtil::ShareDrawableData;
using SolvoEarthUtil::shareDrawableData;
using namespace veltra::test;

namespace {

struct SharingCase
{
    const char* name;
    std::function<void(osg::Geode& second)> change; // made to the second of two equal parts
    bool stateSetShared;
    bool normalsShared;
};

void PrintTo(const SharingCase& sharingCase, std::ostream* out)
{
    *out << sharingCase.name;
}

class ShareDrawableDataCases : public ::testing::TestWithParam<SharingCase>
{};

TEST_P(ShareDrawableDataCases, SharesWhatLooksTheSameAndLeavesNodesTheirOwn)
{
    osg::ref_ptr<osg::Group> model = makeModel(2);
    osg::Node* first = model->getChild(0);
    osg::Node* second = model->getChild(1);
    GetParam().change(*second->asGeode());
    const osg::ref_ptr<osg::StateSet> firstNodeState = first->getStateSet();
    const osg::ref_ptr<osg::StateSet> secondNodeState = second->getStateSet();
    const osg::ref_ptr<osg::Array> secondVertices = geometryOf(second)->getVertexArray();

    shareDrawableData(*model);

    EXPECT_EQ(geometryOf(first)->getStateSet() == geometryOf(second)->getStateSet(), GetParam().stateSetShared);
    EXPECT_EQ(geometryOf(first)->getNormalArray() == geometryOf(second)->getNormalArray(), GetParam().normalsShared);
    // The parts stand apart, and what they are controlled through stays theirs.
    EXPECT_EQ(geometryOf(second)->getVertexArray(), secondVertices.get());
    EXPECT_EQ(first->getStateSet(), firstNodeState.get());
    EXPECT_EQ(second->getStateSet(), secondNodeState.get());
    EXPECT_NE(first->getStateSet(), second->getStateSet()) << "equal node state sets are never merged";
    EXPECT_EQ(first->getName(), "Element [1]");
    EXPECT_EQ(second->getName(), "Element [2]");
}

INSTANTIATE_TEST_SUITE_P(
    Looks, ShareDrawableDataCases,
    ::testing::Values(
        SharingCase{"Equal", [](osg::Geode&) {}, true, true},
        SharingCase{"Hidden", [](osg::Geode& part) { part.setNodeMask(0); }, true, true},
        SharingCase{"OtherMaterial",
                    [](osg::Geode& part) {
                        auto* material = static_cast<osg::Material*>(
                            geometryOf(&part)->getStateSet()->getAttribute(osg::StateAttribute::MATERIAL));
                        material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0, 1, 0, 1));
                    },
                    false, true},
        SharingCase{"DynamicStateSet",
                    [](osg::Geode& part) { geometryOf(&part)->getStateSet()->setDataVariance(osg::Object::DYNAMIC); },
                    false, true},
        SharingCase{
            "StateSetWithCallback",
            [](osg::Geode& part) { geometryOf(&part)->getStateSet()->setUpdateCallback(new osg::StateSet::Callback); },
            false, true},
        SharingCase{"DynamicGeometry",
                    [](osg::Geode& part) { geometryOf(&part)->setDataVariance(osg::Object::DYNAMIC); }, false, false},
        SharingCase{
            "DynamicNormals",
            [](osg::Geode& part) { geometryOf(&part)->getNormalArray()->setDataVariance(osg::Object::DYNAMIC); }, true,
            false},
        SharingCase{"OtherNormals",
                    [](osg::Geode& part) {
                        auto* normals = static_cast<osg::Vec3Array*>(geometryOf(&part)->getNormalArray());
                        (*normals)[3] = osg::Vec3(0, 0, 1);
                    },
                    true, false}),
    [](const ::testing::TestParamInfo<SharingCase>& param) { return std::string(param.param.name); });

TEST(ShareDrawableData, CountsWhatItShared)
{
    osg::ref_ptr<osg::Group> model = makeModel(3);
    const ShareDrawableData::Counts counts = shareDrawableData(*model);
    EXPECT_EQ(counts.stateSets, 2u);
    // Normals and colours of the second and third part; vertices differ.
    EXPECT_EQ(counts.arrays, 4u);
    EXPECT_EQ(counts.primitiveSets, 2u);
    EXPECT_EQ(geometryOf(model->getChild(2))->getPrimitiveSet(0), geometryOf(model->getChild(0))->getPrimitiveSet(0));
}

TEST(ShareDrawableData, ShapesKeepTheirArrays)
{
    osg::ref_ptr<osg::Group> model = new osg::Group;
    std::vector<osg::ref_ptr<osg::ShapeDrawable>> shapes;
    for (int i = 0; i < 2; ++i)
    {
        shapes.push_back(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
        shapes.back()->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        geode->addDrawable(shapes.back().get());
        model->addChild(geode.get());
    }
    const ShareDrawableData::Counts counts = shareDrawableData(*model);
    // A shape recolours its own colour array in place: shared, it would recolour the other.
    EXPECT_NE(shapes[0]->getColorArray(), shapes[1]->getColorArray());
    EXPECT_EQ(counts.arrays, 0u);
    EXPECT_EQ(shapes[0]->getStateSet(), shapes[1]->getStateSet());
}

TEST(ShareDrawableData, AStateSetHasABoundedNumberOfUsers)
{
    const int parts = static_cast<int>(ShareDrawableData::kMaxStateSetUsers) + 1;
    osg::ref_ptr<osg::Group> model = makeModel(parts);
    shareDrawableData(*model);
    std::set<const osg::StateSet*> distinct;
    for (unsigned i = 0; i < model->getNumChildren(); ++i)
        distinct.insert(geometryOf(model->getChild(i))->getStateSet());
    EXPECT_EQ(distinct.size(), 2u);
    for (const osg::StateSet* stateSet : distinct)
        EXPECT_LE(stateSet->getNumParents(), ShareDrawableData::kMaxStateSetUsers);
}

} // namespace
