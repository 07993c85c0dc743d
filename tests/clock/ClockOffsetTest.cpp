// How far the clock is from the host: the year the reply leaves out, and
// replies that cannot be a time.
#include <gtest/gtest.h>

#include <chrono>

#include "ClockOffset.h"

using namespace std::chrono;

namespace {

THostTime At(year_month_day date, int h, int m, int s, int ms) {
    return sys_days(date) + hours(h) + minutes(m) + seconds(s) + milliseconds(ms);
}

TEST(ClockOffset, SameDayAheadAndBehind) {
    const THostTime host = At(2026y / December / 8, 8, 24, 11, 532);  // day 342
    EXPECT_EQ(ClockOffset({342, 8, 24, 11}, host), milliseconds(-532));
    EXPECT_EQ(ClockOffset({342, 8, 24, 14}, host), milliseconds(2468));
    // A clock far off is far off: day 1 against a host in July is not wrapped.
    EXPECT_EQ(ClockOffset({1, 0, 0, 0}, At(2026y / July / 1, 0, 0, 0, 0)), -days(181));
}

TEST(ClockOffset, TheYearThatPutsTheClockNearestTheHost) {
    // The clock still in the old year, the host already in the new.
    EXPECT_EQ(ClockOffset({365, 23, 59, 59}, At(2027y / January / 1, 0, 0, 1, 0)), milliseconds(-2000));
    // The clock already in the new year, the host still in the old.
    EXPECT_EQ(ClockOffset({1, 0, 0, 3}, At(2026y / December / 31, 23, 59, 58, 250)), milliseconds(4750));
}

TEST(ClockOffset, DayThreeSixtySixOnlyInALeapYear) {
    EXPECT_EQ(ClockOffset({366, 12, 0, 1}, At(2024y / December / 31, 12, 0, 0, 0)), milliseconds(1000));
    // Just after New Year: day 366 is the leap year before.
    EXPECT_EQ(ClockOffset({366, 23, 59, 58}, At(2025y / January / 1, 0, 0, 0, 0)), milliseconds(-2000));
    // Day 365 of a leap year is Dec 30.
    EXPECT_EQ(ClockOffset({365, 0, 0, 0}, At(2024y / December / 30, 0, 0, 0, 0)), milliseconds(0));
    // No leap year among 2025, 2026 and 2027.
    EXPECT_EQ(ClockOffset({366, 0, 0, 0}, At(2026y / June / 1, 0, 0, 0, 0)), std::nullopt);
    // A leap second, the last of 2016, is the first instant of 2017.
    EXPECT_EQ(ClockOffset({366, 23, 59, 60}, At(2017y / January / 1, 0, 0, 0, 500)), milliseconds(-500));
}

TEST(ClockOffset, FieldsOutOfRangeGiveNoOffset) {
    const THostTime host = At(2026y / December / 8, 8, 24, 11, 0);
    for (const TClockUtcFields bad : {TClockUtcFields{0, 0, 0, 0}, TClockUtcFields{367, 0, 0, 0},
                                      TClockUtcFields{-1, 0, 0, 0}, TClockUtcFields{342, 24, 0, 0},
                                      TClockUtcFields{342, -1, 0, 0}, TClockUtcFields{342, 0, 60, 0},
                                      TClockUtcFields{342, 0, 0, 61}, TClockUtcFields{342, 0, 0, -1},
                                      TClockUtcFields{2147483647, 2147483647, 2147483647, 2147483647}})
        EXPECT_EQ(ClockOffset(bad, host), std::nullopt)
            << bad.dayOfYear << ":" << bad.hour << ":" << bad.minute << ":" << bad.second;
    // The edges themselves are times.
    EXPECT_TRUE(ClockOffset({1, 0, 0, 0}, host));
    EXPECT_TRUE(ClockOffset({342, 23, 59, 59}, host));
}

TEST(ClockOffset, HostTimeIsIso8601WithMillisecondsInUtc) {
    EXPECT_EQ(FormatUtcMillis(At(2026y / December / 8, 8, 24, 11, 532)), "2026-12-08T08:24:11.532Z");
    EXPECT_EQ(FormatUtcMillis(At(2027y / January / 1, 0, 0, 1, 5)), "2027-01-01T00:00:01.005Z");
    EXPECT_EQ(FormatUtcMillis(At(1969y / December / 31, 23, 59, 59, 999)), "1969-12-31T23:59:59.999Z");
}

}  // namespace
