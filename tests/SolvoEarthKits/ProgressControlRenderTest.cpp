#include "OffscreenRender.h"
#include "ProgressFixtures.h"

#include <gtest/gtest.h>

using namespace veltra::test;

namespace {

constexpr int kSize = 96;

// Three white squares: element 1 is current on 2015-03-05 by plan, element 2 is current by its
// actual dates only, element 3 finished on both sides.
class ProgressControlRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        model = makeModel({"Element [1]", "Element [2]", "Element [3]"});
        control = makeControl(model.get(),
                              taskList({{"1", "2015-03-01", "2015-03-10", "2015-03-20", "2015-03-30"},
                                        {"2", "2015-04-01", "2015-04-10", "2015-03-01", "2015-03-10"},
                                        {"3", "2015-01-01", "2015-01-10", "2015-01-01", "2015-01-10"}}),
                              R"({"1":[1],"2":[2],"3":[3]})");
        ASSERT_TRUE(control.valid());
    }

    // The colour at the centre of element `id` (squares stand at x = 0, 1.5, 3 with side 1).
    osg::Vec4ub centreOf(const osg::Image& image, int id)
    {
        const osg::Vec3d centre(0.5 + 1.5 * (id - 1), 0.0, 0.5);
        const osg::Vec3d window = centre * view * projection;
        return pixelAt(image, static_cast<int>((window.x() + 1.0) * 0.5 * kSize),
                       static_cast<int>((window.y() + 1.0) * 0.5 * kSize));
    }

    osg::ref_ptr<osg::Image> render()
    {
        std::string why;
        osg::ref_ptr<osg::Image> image = renderOffscreen(
            control.get(), kSize, kSize,
            [this](osg::Camera& camera) {
                camera.setViewMatrix(view);
                camera.setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
                camera.setProjectionMatrix(projection);
            },
            &why);
        if (!image)
            ADD_FAILURE() << "cannot render: " << why;
        return image;
    }

    osg::ref_ptr<osg::Group> model;
    osg::ref_ptr<ProgressControl> control;
    const osg::Matrixd view =
        osg::Matrixd::lookAt(osg::Vec3d(1.75, -8.0, 0.5), osg::Vec3d(1.75, 0.0, 0.5), osg::Vec3d(0.0, 0.0, 1.0));
    const osg::Matrixd projection = osg::Matrixd::perspective(30.0, 1.0, 1.0, 100.0);
};

const osg::Vec4ub kBlack(0, 0, 0, 255);
const osg::Vec4ub kWhite(255, 255, 255, 255);

} // namespace

TEST_F(ProgressControlRender, PlanModeShowsCurrentBlueAndHidesWhatHasNotStarted)
{
    control->setToday("2015-03-05");
    osg::ref_ptr<osg::Image> image = render();
    ASSERT_TRUE(image.valid());
    const osg::Vec4ub current = centreOf(*image, 1);
    EXPECT_TRUE(colourNear(current, osg::Vec4ub(0, 128, 255, 255), 3)) << "blue: " << describe(current);
    EXPECT_TRUE(colourNear(centreOf(*image, 2), kBlack)) << "not started: absent, " << describe(centreOf(*image, 2));
    EXPECT_TRUE(colourNear(centreOf(*image, 3), kWhite)) << "finished: natural, " << describe(centreOf(*image, 3));
}

TEST_F(ProgressControlRender, PlanAgainstActualShowsPurpleAndGreen)
{
    control->setMode(3);
    control->setToday("2015-03-05");
    osg::ref_ptr<osg::Image> image = render();
    ASSERT_TRUE(image.valid());
    const osg::Vec4ub behind = centreOf(*image, 1);
    const osg::Vec4ub ahead = centreOf(*image, 2);
    EXPECT_TRUE(colourNear(behind, osg::Vec4ub(255, 0, 255, 255), 3)) << "purple: " << describe(behind);
    EXPECT_TRUE(colourNear(ahead, osg::Vec4ub(0, 255, 128, 255), 3)) << "green: " << describe(ahead);
    EXPECT_TRUE(colourNear(centreOf(*image, 3), kWhite));
}

TEST_F(ProgressControlRender, AllAlphaBlendsWithTheBackground)
{
    control->setToday("2015-03-05");
    control->setAllAlpha(0.5f);
    osg::ref_ptr<osg::Image> image = render();
    ASSERT_TRUE(image.valid());
    const osg::Vec4ub natural = centreOf(*image, 3);
    const osg::Vec4ub tinted = centreOf(*image, 1);
    EXPECT_TRUE(colourNear(natural, osg::Vec4ub(128, 128, 128, 255), 3)) << "half white: " << describe(natural);
    EXPECT_TRUE(colourNear(tinted, osg::Vec4ub(0, 64, 128, 255), 3)) << "half blue: " << describe(tinted);

    control->setAllAlpha(1.0f);
    image = render();
    ASSERT_TRUE(image.valid());
    EXPECT_TRUE(colourNear(centreOf(*image, 3), kWhite)) << "opaque again";
}
