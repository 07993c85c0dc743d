// The threshold ranges of the Nagios family's plugins: "10" alerts outside
// 0..10, "10:" below 10, "~:10" above 10, "10:20" outside 10..20, and a
// leading "@" alerts inside the range instead.
#pragma once

#include <string>

struct TAlertRange {
    double low = 0;
    double high = 0;
    bool lowUnbounded = false;   // "~"
    bool highUnbounded = false;  // nothing after the colon
    bool inside = false;         // "@"
    std::string text;            // as given, for the performance data

    bool Alerts(double value) const;
};

// False, with a one-line reason, for what is not a range (or low > high).
bool ParseAlertRange(const std::string& text, TAlertRange& range, std::string& error);
