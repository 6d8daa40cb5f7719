#include <SolvoEarthUtil/loading/Decode.h>

#include <gtest/gtest.h>

using SolvoEarthUtil::decode;

TEST(Decode, PlusAndUpperCaseEscapes)
{
    EXPECT_EQ(decode("a+b"), "a b");
    EXPECT_EQ(decode("%41%42"), "AB");
    EXPECT_EQ(decode("%E9%A1%B9%E7%9B%AE"), "项目");
    EXPECT_EQ(decode("plain text"), "plain text");
    EXPECT_EQ(decode(""), "");
}

TEST(Decode, LowerCaseEscapeKeepsItsCharacters)
{
    EXPECT_EQ(decode("%2f"), "2f");
    EXPECT_EQ(decode("a%e9b"), "ae9b");
}

TEST(Decode, PunctuationBetweenColonAndQuestionMarkCountsAsDigit)
{
    // strtoul reads "1:" as 1, so the escape becomes the byte 0x01.
    EXPECT_EQ(decode("%1:"), std::string(1, '\x01'));
    // ':' first: strtoul reads no digit at all and gives 0.
    EXPECT_EQ(decode("%:1x"), std::string("\0x", 2));
}

TEST(Decode, IncompleteEscapes)
{
    EXPECT_EQ(decode("100%"), "100%") << "a trailing '%' is copied";
    EXPECT_EQ(decode("%4"), "4") << "one character after '%': the '%' is dropped";
    EXPECT_EQ(decode("%G1"), "G1");
    EXPECT_EQ(decode("%%41"), "A") << "the dropped '%' lets the next one start an escape";
    EXPECT_EQ(decode("%+"), " ") << "the character after a dropped '%' is read as usual";
}
