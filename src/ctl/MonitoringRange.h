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
    std::string text;            // as given, for messages

    bool Alerts(double value) const;
    // Whether any value from..to (from <= to) alerts.
    bool AlertsAnywhere(double from, double to) const;
    // The range as the performance data carries it: "0.5", "~:1", "@0.1:0.2".
    std::string Normalised() const;
};

// The monitoring plugins' exit statuses.
enum TPluginState { PLUGIN_OK = 0, PLUGIN_WARNING = 1, PLUGIN_CRITICAL = 2, PLUGIN_UNKNOWN = 3 };

// The state of an offset known to lie within offset +- uncertainty, judged
// by its size: the worst state any offset in that interval would have, so a
// clock that may be beyond a threshold is never called OK.
TPluginState OffsetState(double offset, double uncertainty, const TAlertRange& warn, const TAlertRange& crit);

// False, with a one-line reason, for what is not a range (or low > high).
bool ParseAlertRange(const std::string& text, TAlertRange& range, std::string& error);
