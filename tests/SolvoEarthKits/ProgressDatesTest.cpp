#include <SolvoEarthKits/progress/ProgressDates.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

using namespace SolvoEarthUtil;

namespace {

// The three numbers read from `text` as "year month day", or "none".
std::string fields(const std::string& text)
{
    int year = 0;
    int month = 0;
    int day = 0;
    if (!parseDate(text, year, month, day))
        return "none";
    return std::to_string(year) + " " + std::to_string(month) + " " + std::to_string(day);
}

// Runs each test in a fixed time zone and puts the process's zone back afterwards.
class ProgressDatesInZone : public ::testing::Test
{
protected:
    void useZone(const char* rule)
    {
        setenv("TZ", rule, 1);
        tzset();
    }

    void SetUp() override
    {
        const char* previous = std::getenv("TZ");
        _hadZone = previous != nullptr;
        if (_hadZone)
            _previousZone = previous;
    }

    void TearDown() override
    {
        if (_hadZone)
            setenv("TZ", _previousZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    // Stepping one day at a time and jumping straight there must agree, and the day count back to
    // the start must be exact, for every day of two years: a day boundary shifted by a clock change
    // would show up as a skipped or repeated date or a count off by one.
    void expectConsistentCalendar(const std::string& start)
    {
        std::string stepped = start;
        for (int days = 1; days <= 731; ++days)
        {
            stepped = addDays(stepped, 1);
            ASSERT_EQ(addDays(start, days), stepped) << "after " << days << " days";
            ASSERT_EQ(daysBetween(start, stepped), days) << stepped;
            ASSERT_EQ(daysBetween(stepped, start), -days) << stepped;
            ASSERT_EQ(addDays(stepped, -days), start) << stepped;
        }
    }

private:
    bool _hadZone = false;
    std::string _previousZone;
};

} // namespace

TEST(ProgressDates, ReadsThreeNumbersWithAnySingleSeparator)
{
    for (const char* text : {"2015-03-07", "2015/3/7", "2015.03.07", "2015x03y07", "  2015-03-07", "+2015-+3-+7",
                             "2015- 3-  7", "2015-03-07 08:00:00"})
        EXPECT_EQ(fields(text), "2015 3 7") << text;
    // A sign directly after a separator belongs to the next number.
    EXPECT_EQ(fields("2015--3--7"), "2015 -3 -7");
    EXPECT_EQ(fields("-2147483648/2147483647/0"), "-2147483648 2147483647 0");
}

TEST(ProgressDates, RejectsShortMalformedAndOutOfRangeText)
{
    for (const char* text :
         {"", "15-1-5", "2015-1", "2015-01-", "2015-1  ", "abcdefghij", "2015 - 03 - 07", "2015---3-5", "2015-ab-05",
          "--2015-3-5", "2147483648-01-01", "2015-01-2147483648", "-2147483649-1-1", "2015-99999999999999999999-1"})
    {
        int year = 0;
        int month = 0;
        int day = 0;
        EXPECT_FALSE(parseDate(text, year, month, day)) << text;
        EXPECT_EQ(normalizeDate(text), "") << text;
        EXPECT_EQ(addDays(text, 1), "") << text;
        EXPECT_EQ(daysBetween(text, "2015-01-01"), -1) << text;
        EXPECT_EQ(daysBetween("2015-01-01", text), -1) << text;
    }
}

TEST(ProgressDates, NormalizesWithoutRangeCheck)
{
    EXPECT_EQ(normalizeDate("2015-1-5"), "2015-01-05");
    EXPECT_EQ(normalizeDate("2015/3/7"), "2015-03-07");
    EXPECT_EQ(normalizeDate("2015-03-07 08:00:00"), "2015-03-07");
    EXPECT_EQ(normalizeDate("2015-13-40"), "2015-13-40");
    EXPECT_EQ(normalizeDate("15-01-05"), "0015-01-05");
    EXPECT_EQ(normalizeDate("20150-1-5"), "20150-01-05");
    EXPECT_EQ(normalizeDate("2015-0-0"), "2015-00-00");
}

TEST_F(ProgressDatesInZone, AddDaysCrossesMonthAndYearEnds)
{
    useZone("UTC0");
    EXPECT_EQ(addDays("2015-01-31", 1), "2015-02-01");
    EXPECT_EQ(addDays("2015-12-31", 1), "2016-01-01");
    EXPECT_EQ(addDays("2016-02-28", 1), "2016-02-29");
    EXPECT_EQ(addDays("2015-02-28", 1), "2015-03-01");
    EXPECT_EQ(addDays("2016-03-01", -1), "2016-02-29");
    EXPECT_EQ(addDays("2016-01-01", -1), "2015-12-31");
    EXPECT_EQ(addDays("2000-01-01", 36525), "2100-01-01");
    // The local calendar normalises what the text leaves unchecked.
    EXPECT_EQ(addDays("2015-1-5", 0), "2015-01-05");
    EXPECT_EQ(addDays("2015-13-40", 0), "2016-02-09");
    EXPECT_EQ(addDays("2015-03-00", 0), "2015-02-28");

    // Results that could not be read back, and dates the calendar cannot hold, give "".
    EXPECT_EQ(addDays("2147483647-12-31", 0), "2147483647-12-31");
    EXPECT_EQ(addDays("2147483647-12-31", 1), "");
    EXPECT_EQ(addDays("2147483647-01-01", 2147483647), "");
    EXPECT_EQ(addDays("-2147483648-01-01", 0), "");
    EXPECT_EQ(addDays("2015--2147483648-01", 0), "");
}

TEST_F(ProgressDatesInZone, MidnightOneSecondBeforeTheEpochIsADate)
{
    // One second east of Greenwich, local midnight of 1970-01-01 is the instant -1, which is also
    // how the calendar reports failure.
    useZone("XXX-0:00:01");
    EXPECT_EQ(addDays("1970-01-01", 0), "1970-01-01");
    EXPECT_EQ(addDays("1970-01-01", -1), "1969-12-31");
    EXPECT_EQ(daysBetween("1970-01-01", "1970-01-02"), 1);
}

TEST_F(ProgressDatesInZone, DaysBetweenCountsWholeDaysBothWays)
{
    useZone("UTC0");
    EXPECT_EQ(daysBetween("2015-03-01", "2015-03-01"), 0);
    EXPECT_EQ(daysBetween("2015-03-01", "2015/3/1 12:00"), 0);
    EXPECT_EQ(daysBetween("2015-03-01", ""), -1);
    EXPECT_EQ(daysBetween("", "2015-03-01"), -1);
    EXPECT_EQ(daysBetween("2015-01-01", "2016-01-01"), 365);
    EXPECT_EQ(daysBetween("2016-01-01", "2017-01-01"), 366);
    EXPECT_EQ(daysBetween("2015-03-01", "2015-02-28"), -1);
    EXPECT_EQ(daysBetween("2016-03-01", "2015-03-01"), -366);
    EXPECT_EQ(daysBetween("2015-01-31", "2015-02-01"), 1);
    // Far beyond an int of days: the count is 64-bit.
    EXPECT_EQ(daysBetween("-1000000000-01-01", "1000000000-01-01"), 730485000000LL);
}

TEST_F(ProgressDatesInZone, DaylightSavingChangesDoNotShiftDays)
{
    // Spring forward on 2015-03-29, fall back on 2015-10-25.
    useZone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(addDays("2015-03-28", 2), "2015-03-30");
    EXPECT_EQ(addDays("2015-10-26", -2), "2015-10-24");
    EXPECT_EQ(daysBetween("2015-03-29", "2015-03-30"), 1);
    EXPECT_EQ(daysBetween("2015-10-25", "2015-10-26"), 1);
    EXPECT_EQ(daysBetween("2015-11-01", "2015-03-01"), -245);
    expectConsistentCalendar("2015-01-01");

    // Clocks change at midnight here, so one local midnight a year does not exist on the wall clock.
    useZone("<-03>3<-02>,M10.3.0/0,M2.3.0/0");
    EXPECT_EQ(addDays("2015-10-17", 1), "2015-10-18");
    expectConsistentCalendar("2015-01-01");
}
