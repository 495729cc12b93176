#include "core/numtext.h"

#include <gtest/gtest.h>

using namespace kest;

TEST(NumberText, LeadingPartIsReadAndTheRestIgnored) {
    EXPECT_EQ(LeadingNumber("  42abc"), 42);
    EXPECT_EQ(LeadingNumber("-17"), -17);
    EXPECT_EQ(LeadingNumber("+3"), 3);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("-"), 0);
    EXPECT_DOUBLE_EQ(LeadingNumber("2.5 days"), 2.5);
    EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_EQ(LeadingNumber("7."), 7);
}

TEST(NumberText, IntegersRoundHalfToEvenAndClamp) {
    EXPECT_EQ(LeadingInteger("2.5", 0, 10), 2);
    EXPECT_EQ(LeadingInteger("3.5", 0, 10), 4);
    EXPECT_EQ(LeadingInteger("-2.5", -10, 10), -2);
    EXPECT_EQ(LeadingInt16("40000"), 32767);
    EXPECT_EQ(LeadingInt16("-40000"), -32768);
    EXPECT_EQ(LeadingInt32("99999999999999"), 2147483647);
    EXPECT_EQ(LeadingInt32("123456789012345678901234567890"), 2147483647);
}

TEST(NumberText, WholeNumberCheck) {
    EXPECT_TRUE(IsWholeNumber(" 12 "));
    EXPECT_TRUE(IsWholeNumber("-1.25"));
    EXPECT_FALSE(IsWholeNumber("12a"));
    EXPECT_FALSE(IsWholeNumber(""));
    EXPECT_FALSE(IsWholeNumber("  "));
}
