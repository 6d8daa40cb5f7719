#include <SolvoEarthKits/progress/NodeId.h>

#include <gtest/gtest.h>

using namespace SolvoEarthUtil;

TEST(NodeId, BracketedNumberWins)
{
    EXPECT_EQ(nodeIdFromName("Wall [1234]"), 1234);
    EXPECT_EQ(nodeIdFromName("[7]"), 7);
    EXPECT_EQ(nodeIdFromName("a[12]:5"), 12);
    EXPECT_EQ(nodeIdFromName("a:5[12]"), 12);
    EXPECT_EQ(nodeIdFromName("x[1][2]"), 2);
    EXPECT_EQ(nodeIdFromName("Wall [ 12 ]"), 12);
    EXPECT_EQ(nodeIdFromName("Wall [+12]"), 12);
    EXPECT_EQ(nodeIdFromName("Wall [12abc]"), 12);
    // The ']' only has to come later; what lies between is read as atoi reads it.
    EXPECT_EQ(nodeIdFromName("x[12 and more] tail"), 12);
    EXPECT_EQ(nodeIdFromName("x[ab]"), 0);
    EXPECT_EQ(nodeIdFromName("x[1]]"), 1);
}

TEST(NodeId, FallsBackToTheLastColon)
{
    EXPECT_EQ(nodeIdFromName("Slab:77"), 77);
    EXPECT_EQ(nodeIdFromName("a:1:2"), 2);
    EXPECT_EQ(nodeIdFromName("Beam[]:5"), 5);
    EXPECT_EQ(nodeIdFromName("x[3:4"), 4);
    EXPECT_EQ(nodeIdFromName("a]b[3:9"), 9);
    EXPECT_EQ(nodeIdFromName("Slab:"), 0);
    EXPECT_EQ(nodeIdFromName("Slab:abc"), 0);
    EXPECT_EQ(nodeIdFromName("Slab: 8"), 8);
}

TEST(NodeId, NamesWithoutAnId)
{
    EXPECT_EQ(nodeIdFromName(""), -1);
    EXPECT_EQ(nodeIdFromName("Door"), -1);
    EXPECT_EQ(nodeIdFromName("Beam[]"), -1);
    EXPECT_EQ(nodeIdFromName("x[3"), -1);
    EXPECT_EQ(nodeIdFromName("x]3["), -1);
    EXPECT_EQ(nodeIdFromName("1234"), -1);
    EXPECT_EQ(nodeIdFromName("Wall [-1]"), -1);
    EXPECT_EQ(nodeIdFromName("Slab:-1"), -1);
}

TEST(NodeId, NumbersOutsideTheIntRangeAreNoId)
{
    EXPECT_EQ(nodeIdFromName("Wall [2147483647]"), 2147483647);
    EXPECT_EQ(nodeIdFromName("Wall [-2147483648]"), -2147483647 - 1);
    EXPECT_EQ(nodeIdFromName("Wall [2147483648]"), -1);
    EXPECT_EQ(nodeIdFromName("Wall [-2147483649]"), -1);
    EXPECT_EQ(nodeIdFromName("Slab:4294967297"), -1);
    EXPECT_EQ(nodeIdFromName("Wall [99999999999999999999999999]"), -1);
    EXPECT_EQ(nodeIdFromName("Wall [-99999999999999999999999999]"), -1);
    EXPECT_EQ(nodeIdFromName("Wall [00000000000000000000000042]"), 42);
}
