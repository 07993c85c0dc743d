#include "ClockOffset.h"

#include <cstdio>

using namespace std::chrono;

std::optional<milliseconds> ClockOffset(const TClockUtcFields& clock, THostTime host) {
    if (clock.dayOfYear < 1 || clock.dayOfYear > 366 || clock.hour < 0 || clock.hour > 23 || clock.minute < 0 ||
        clock.minute > 59 || clock.second < 0 || clock.second > 60)
        return std::nullopt;
    const int hostYear = static_cast<int>(year_month_day(floor<days>(host)).year());
    const milliseconds timeOfDay = hours(clock.hour) + minutes(clock.minute) + seconds(clock.second);
    std::optional<milliseconds> nearest;
    for (int y = hostYear - 1; y <= hostYear + 1; ++y) {
        const year candidate(y);
        if (clock.dayOfYear == 366 && !candidate.is_leap()) continue;
        const THostTime at = sys_days(candidate / January / 1) + days(clock.dayOfYear - 1) + timeOfDay;
        const milliseconds offset = at - host;
        if (!nearest || abs(offset) < abs(*nearest)) nearest = offset;
    }
    return nearest;
}

std::string FormatUtcMillis(THostTime time) {
    const sys_days day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> clock(time - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}
