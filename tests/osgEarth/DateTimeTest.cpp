#include <osgEarth/DateTime>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

using osgEarth::DateTime;

TEST(DateTime, CalendarFieldsAndEpochs)
{
    const DateTime epoch(static_cast<std::time_t>(0));
    EXPECT_EQ(epoch.year(), 1970);
    EXPECT_EQ(epoch.month(), 1);
    EXPECT_EQ(epoch.day(), 1);
    EXPECT_DOUBLE_EQ(epoch.hours(), 0.0);
    EXPECT_DOUBLE_EQ(epoch.getJulianDay(), 2440587.5);

    const DateTime j2000(2000, 1, 1, 12.0);
    EXPECT_DOUBLE_EQ(j2000.getJulianDay(), 2451545.0);
    EXPECT_DOUBLE_EQ(j2000.getDaysSinceJ2000(), 0.0);
    EXPECT_EQ(j2000.asTimeStamp(), 946728000);

    const DateTime afternoon(2024, 3, 20, 15.75);
    EXPECT_EQ(afternoon.asISO8601(), "2024-03-20T15:45:00Z");
    EXPECT_EQ(DateTime(afternoon.asTimeStamp()), afternoon);
    EXPECT_NEAR(afternoon.hours(), 15.75, 1e-9);

    // Before the epoch the civil arithmetic must still round toward the earlier day.
    const DateTime before(static_cast<std::time_t>(-1));
    EXPECT_EQ(before.asISO8601(), "1969-12-31T23:59:59Z");
}

TEST(DateTime, OutOfRangeFieldsCarryOver)
{
    EXPECT_EQ(DateTime(2023, 13, 1, 0.0).asISO8601(), "2024-01-01T00:00:00Z");
    EXPECT_EQ(DateTime(2024, 0, 15, 0.0).asISO8601(), "2023-12-15T00:00:00Z");
    EXPECT_EQ(DateTime(2024, 3, 0, 0.0).asISO8601(), "2024-02-29T00:00:00Z") << "2024 is a leap year";
    EXPECT_EQ(DateTime(2023, 2, 29, 0.0).asISO8601(), "2023-03-01T00:00:00Z") << "2023 is not";
    EXPECT_EQ(DateTime(2100, 2, 29, 0.0).asISO8601(), "2100-03-01T00:00:00Z") << "centuries skip the leap day";
    EXPECT_EQ(DateTime(2000, 2, 29, 0.0).month(), 2) << "but every fourth century keeps it";
    EXPECT_EQ(DateTime(2024, 3, 20, 24.0).asISO8601(), "2024-03-21T00:00:00Z");
    EXPECT_EQ(DateTime(2024, 3, 20, -1.0).asISO8601(), "2024-03-19T23:00:00Z");
}

TEST(DateTime, HostileInputStaysUsable)
{
    EXPECT_EQ(DateTime(2024, 3, 20, std::numeric_limits<double>::quiet_NaN()), DateTime(2024, 3, 20, 0.0));
    EXPECT_EQ(DateTime(2024, 3, 20, std::numeric_limits<double>::infinity()), DateTime(2024, 3, 20, 0.0));

    const DateTime huge(INT_MAX, INT_MAX, INT_MAX, 1e300);
    EXPECT_TRUE(std::isfinite(huge.getJulianDay()));
    EXPECT_GE(huge.hours(), 0.0);
    EXPECT_LT(huge.hours(), 24.0);
    EXPECT_GT(huge.year(), 2000);
    EXPECT_LT(DateTime(INT_MIN, INT_MIN, INT_MIN, -1e300).year(), 0);
}

TEST(DateTime, NowIsCurrent)
{
    const DateTime now = DateTime::now();
    const std::time_t clock = std::time(nullptr);
    EXPECT_LE(std::llabs(static_cast<long long>(now.asTimeStamp() - clock)), 2);
    EXPECT_GE(now.year(), 2024);
}
