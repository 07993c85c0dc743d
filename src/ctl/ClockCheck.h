// One look at a clock for the monitoring commands (check, metrics): is it
// there, how far is its time from the host's (polled until the uncertainty
// meets a goal or the time given is up), and does it hold a declared setup.
// The port is held only for that one look.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ClockConfig.h"
#include "ClockResult.h"

struct TClockCheckOptions {
    std::string port;            // as given on the command line
    std::string model;           // --model as given ("K203", "auto"); empty: the stored one, else asked
    std::string baud;            // --baud as given; empty: the stored rate
    std::string command = "check";  // the command the session is opened for
    double forSeconds = 15;      // the longest the offset is polled
    double goalUncertainty = 0;  // polling ends once the uncertainty is this small
    bool hasSetup = false;       // compare the clock's setup with `setup`
    TClockConfig setup{};
};

struct TClockSetupDifference {
    int item = 0;
    std::string label;  // the item's name, as the setup text shows it
};

struct TClockHealth {
    std::string port;        // as given
    std::string stableName;  // the name that stays when the adapter moves (/dev/serial/by-id/...), else port
    std::string model;       // the model the session used ("K203")
    std::string rom;         // the ROM date line where the clock told one, else empty
    bool busy = false;       // another program holds the port
    std::string holder;      // who: "ModemManager (pid 812)"
    bool up = false;         // the clock answered
    std::string reason;      // why not, in the clock line's words
    bool refused = false;    // --model or --baud was refused (reason says why): nothing was asked
    int polls = 0;
    double offset = 0;       // clock minus host, seconds, when polls > 0
    double uncertainty = 0;  // the truth lies within offset +- this
    bool setupChecked = false;
    std::vector<TClockSetupDifference> differences;  // by item number
    double checkedAt = 0;    // host seconds when the look ended
};

TClockHealth CheckClock(const TClockCheckOptions& options);

// Each look on a thread of its own, at most atOnce at a time, so that many
// clocks take about the time of the slowest; the results in the looks' order.
std::vector<TClockHealth> CheckClocks(const std::vector<TClockCheckOptions>& looks, std::size_t atOnce);

// --for SECONDS of check, metrics and time watch: a decimal number of
// seconds, more than 0 and at most most. False, seconds untouched, else.
bool ParseForSeconds(const std::string& text, double most, double& seconds);
// What --for takes, for the usage error: "--for takes seconds, more than 0 and at most 3600".
std::string ForSecondsRule(double most);
