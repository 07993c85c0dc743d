// How far a clock's UTC time is from this machine's. The clock's reply to
// "get time" holds the day of the year, hours, minutes and whole seconds,
// but no year: the year is the one that puts the clock nearest the host, so
// a clock a few seconds behind across New Year is a few seconds behind, not
// a year.
#pragma once

#include <chrono>
#include <optional>
#include <string>

// The fields of a DAY:H:M:S reply, as the clock sent them.
struct TClockUtcFields {
    int dayOfYear = 0;  // 1 = Jan 1
    int hour = 0;
    int minute = 0;
    int second = 0;  // 60 during a leap second
};

using THostTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;

// The clock's time minus the host's, in milliseconds; nothing when a field is
// out of range, or day 366 falls in no leap year next to the host's.
std::optional<std::chrono::milliseconds> ClockOffset(const TClockUtcFields& clock, THostTime host);

// "2026-12-08T08:24:11.532Z".
std::string FormatUtcMillis(THostTime time);
