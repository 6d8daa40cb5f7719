#include <SolvoEarthKits/response/CallBackManger.h>

#include <gtest/gtest.h>

namespace {

class CountingCallBack : public CallBack
{
public:
    bool response(int value) override
    {
        values.push_back(value);
        return false;
    }
    using CallBack::response;
    std::vector<int> values;
};

// A reporter that tells its listeners one number.
class Reporter : public CallBackManger
{
public:
    void tell(int value)
    {
        for (CallBack* cb : _callBacks)
            cb->response(value);
    }
    size_t size() const { return _callBacks.size(); }
};

} // namespace

TEST(CallBack, BaseAnswersTrueToEverything)
{
    osg::ref_ptr<CallBack> plain = new CallBack;
    EXPECT_TRUE(plain->response("text", 1));
    EXPECT_TRUE(plain->response("text"));
    EXPECT_TRUE(plain->response(1));
    CallBack copy(*plain);
    EXPECT_EQ(copy.referenceCount(), 0) << "a copy starts a count of its own";
}

TEST(CallBackManger, ListenersAreToldInOrderOncePerEntry)
{
    osg::ref_ptr<CountingCallBack> first = new CountingCallBack;
    osg::ref_ptr<CountingCallBack> second = new CountingCallBack;
    Reporter reporter;
    reporter.addCallBack(nullptr);
    reporter.addCallBack(first.get());
    reporter.addCallBack(second.get());
    reporter.addCallBack(first.get());
    EXPECT_EQ(reporter.size(), 3u);
    reporter.tell(7);
    EXPECT_EQ(first->values, (std::vector<int>{7, 7})) << "added twice, told twice";
    EXPECT_EQ(second->values, (std::vector<int>{7}));

    reporter.removeCallBack(first.get());
    reporter.tell(8);
    EXPECT_EQ(first->values.size(), 2u) << "one removal removes every entry";
    EXPECT_EQ(second->values.back(), 8);

    reporter.removeCallBack(nullptr);
    reporter.removeCallBack(first.get());
    EXPECT_EQ(reporter.size(), 1u);
}

TEST(CallBackManger, ListDoesNotOwnAndCopiesAreShallow)
{
    osg::ref_ptr<CountingCallBack> listener = new CountingCallBack;
    {
        Reporter reporter;
        reporter.addCallBack(listener.get());
        EXPECT_EQ(listener->referenceCount(), 1);

        Reporter copy(reporter);
        copy.removeCallBack(listener.get());
        EXPECT_EQ(copy.size(), 0u);
        EXPECT_EQ(reporter.size(), 1u) << "removing from a copy leaves the original";
        copy = reporter;
        EXPECT_EQ(copy.size(), 1u);
    }
    EXPECT_EQ(listener->referenceCount(), 1) << "destroying the lists released nothing";

    Reporter empty;
    empty.removeCallBack(listener.get());
    EXPECT_EQ(empty.size(), 0u);
}
