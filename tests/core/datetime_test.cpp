#include "core/clock.h"
#include "core/datetime.h"

#include <gtest/gtest.h>

using namespace kest;

TEST(DayCount, EpochsAndCalendarFields) {
    EXPECT_DOUBLE_EQ(CivilToDays({1900, 1, 1, 0, 0, 0}), 2.0);
    EXPECT_DOUBLE_EQ(UnixToDays(0), 25569.0);
    EXPECT_EQ(DaysToUnix(25569.5), 43200);
    const double d = CivilToDays({2000, 12, 31, 23, 59, 59});
    const CivilTime t = DaysToCivil(d);
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(t.second, 59);
    // Leap day and the second after it roll the date.
    EXPECT_EQ(FormatDateTime(CivilToDays({2024, 2, 29, 23, 59, 59}) + kSecond),
              "2024-03-01 00:00:00");
}

TEST(DayCount, TextForms) {
    const double d = CivilToDays({2000, 12, 31, 7, 5, 3});
    EXPECT_EQ(FormatDateTime(d), "2000-12-31 07:05:03");
    EXPECT_EQ(FormatTime(d), "07:05:03");
    EXPECT_EQ(FormatDateCompact(d), "20001231");
    ASSERT_TRUE(ParseDateTime("2000-12-31 07:05:03").has_value());
    EXPECT_DOUBLE_EQ(*ParseDateTime("2000-12-31 07:05:03"), d);
    EXPECT_DOUBLE_EQ(*ParseDateTime("2000-12-31"), CivilToDays({2000, 12, 31, 0, 0, 0}));
    EXPECT_FALSE(ParseDateTime("31.12.2000").has_value());
    EXPECT_FALSE(ParseDateTime("2000-13-01 00:00:00").has_value());
    EXPECT_FALSE(ParseDateTime("2000-12-31 07:05:03 trailing").has_value());
}
