#include <SolvoEarthKits/progress/WbsOrder.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace SolvoEarthUtil;

namespace {

bool equivalent(const std::string& a, const std::string& b)
{
    return !wbsLess(a, b) && !wbsLess(b, a);
}

} // namespace

TEST(WbsOrder, ComparesComponentsAsNumbersAndShorterCodesFirst)
{
    EXPECT_TRUE(wbsLess("1.2", "1.10"));
    EXPECT_TRUE(wbsLess("1.10", "1.10.1"));
    EXPECT_TRUE(wbsLess("1.9", "1.10"));
    EXPECT_TRUE(wbsLess("1.10.1", "2"));
    EXPECT_TRUE(wbsLess("1.10.1", "1.11"));
    // A code that runs out of components first is smaller even when the next component is 0.
    EXPECT_TRUE(wbsLess("1", "1.0"));
    EXPECT_TRUE(wbsLess("1.2", "1.2.0.0"));
    EXPECT_FALSE(wbsLess("1.10", "1.2"));
    EXPECT_FALSE(wbsLess("1.10.1", "1.10"));
    EXPECT_FALSE(wbsLess("1.0", "1"));
    EXPECT_TRUE(wbsLess("-1", "0"));
    EXPECT_TRUE(wbsLess("1.-2", "1.0"));
}

TEST(WbsOrder, ReadsEachComponentAsAtoiDoes)
{
    EXPECT_TRUE(equivalent("1.02", "1.2"));
    EXPECT_TRUE(equivalent(" 1. 2", "1.2"));
    EXPECT_TRUE(equivalent("+1.+2", "1.2"));
    EXPECT_TRUE(equivalent("1.2abc", "1.2"));
    EXPECT_TRUE(equivalent("1.2-3", "1.2"));
    EXPECT_TRUE(equivalent("A.B", "0.0"));
    EXPECT_TRUE(equivalent("1.x", "1.0"));
    EXPECT_TRUE(equivalent("1.--2", "1.0"));
    // An empty component takes the dot after it with it: "1..2" has the components 1 and 0.
    EXPECT_TRUE(equivalent("1..2", "1.0"));
    EXPECT_TRUE(wbsLess("1..2", "1.0.2"));
}

TEST(WbsOrder, EmptyCodesReadAsASingleZero)
{
    EXPECT_FALSE(wbsLess("", ""));
    EXPECT_TRUE(equivalent("", "0"));
    EXPECT_TRUE(equivalent("", "."));
    EXPECT_TRUE(wbsLess("", "1"));
    EXPECT_TRUE(wbsLess("", "0.1"));
    EXPECT_TRUE(wbsLess("-1", ""));
    EXPECT_FALSE(wbsLess("0.1", ""));
}

TEST(WbsOrder, HugeComponentsSaturate)
{
    const std::string max = "9223372036854775807";
    const std::string min = "-9223372036854775808";
    EXPECT_TRUE(equivalent("99999999999999999999", max));
    EXPECT_TRUE(equivalent("1.99999999999999999999", "1.99999999999999999998"));
    EXPECT_TRUE(equivalent("9223372036854775808", max));
    EXPECT_TRUE(wbsLess("9223372036854775806", "99999999999999999999"));
    EXPECT_TRUE(equivalent("-99999999999999999999", min));
    EXPECT_TRUE(wbsLess(min, "-9223372036854775807"));
    EXPECT_TRUE(wbsLess("-99999999999999999999", "99999999999999999999"));
    EXPECT_TRUE(wbsLess("99999999999999999999", "99999999999999999999.1"));
}

TEST(WbsOrder, IsAStrictWeakOrderingForMaps)
{
    const std::vector<std::string> codes = {"",   "0",  "1",    "1.0",  "1.2", "1.02", "1.10", "1.10.1",
                                            "2",  "10", "-1",   "1..2", "1.x", " 1.2", "1.2.", "1.",
                                            ".1", "a",  "1.-1", "01.2", "3.1", "3",    "2.99", "99999999999999999999"};
    for (const std::string& a : codes)
    {
        EXPECT_FALSE(wbsLess(a, a)) << a;
        for (const std::string& b : codes)
        {
            EXPECT_FALSE(wbsLess(a, b) && wbsLess(b, a)) << a << " / " << b;
            for (const std::string& c : codes)
            {
                if (wbsLess(a, b) && wbsLess(b, c))
                {
                    EXPECT_TRUE(wbsLess(a, c)) << a << " < " << b << " < " << c;
                }
                if (equivalent(a, b) && equivalent(b, c))
                {
                    EXPECT_TRUE(equivalent(a, c)) << a << " ~ " << b << " ~ " << c;
                }
            }
        }
    }

    std::map<std::string, int, WbsLess> schedule;
    for (const char* code : {"2", "1.10.1", "1.10", "1.2", "1", "1.02"})
        schedule[code] = 1;
    std::vector<std::string> keys;
    for (const auto& entry : schedule)
        keys.push_back(entry.first);
    // "1.02" found the key "1.2" already there.
    EXPECT_EQ(keys, (std::vector<std::string>{"1", "1.2", "1.10", "1.10.1", "2"}));
    EXPECT_NE(schedule.find("1.02"), schedule.end());
}
