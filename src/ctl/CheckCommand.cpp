// tarvelctl check: a plugin for Nagios, Icinga and their kin. One status
// line with performance data, and the exit status they read.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "ClockCheck.h"
#include "ClockState.h"
#include "CtlCommand.h"
#include "MonitoringRange.h"
#include "PortSession.h"
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

const char* const kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
// The status line's prefix.
constexpr char kPluginName[] = "TARVEL";
// The clocks checked at once; each mostly sleeps between polls.
constexpr std::size_t kClocksAtOnce = 64;
// The longest --for: an engine kills a plugin long before.
constexpr double kLongestFor = 3600;
// No goal finer than the line can reach in a few seconds.
constexpr double kFinestGoal = 0.005;

// Which of two states tells more: CRITICAL, then WARNING, then UNKNOWN, then OK.
int Rank(TPluginState state) {
    switch (state) {
    case PLUGIN_CRITICAL: return 3;
    case PLUGIN_WARNING: return 2;
    case PLUGIN_UNKNOWN: return 1;
    case PLUGIN_OK: break;
    }
    return 0;
}

// Text from outside (a port name, a reason) on the status line: a '|' would
// start the performance data and a line end a second line (the lines of a
// reason are joined by a blank); other control bytes are shown escaped.
std::string StatusText(const std::string& text) {
    std::string out = VisibleText(text, true);
    for (char& c : out) {
        if (c == '|') c = '/';
        if (c == '\n') c = ' ';
    }
    return out;
}

// Bad arguments: UNKNOWN, said on the status line.
int Unknown(const std::string& reason) {
    std::printf("%s UNKNOWN - %s\n", kPluginName, StatusText(reason).c_str());
    FinishStdout();
    return PLUGIN_UNKNOWN;
}

// A usage error of the command line, as a plugin says it.
void SayUsage(const std::string& reason) { Unknown(reason + " (tarvelctl check --help)"); }

std::string Seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// A label of the performance data: quoted, with quotes doubled, when it
// carries a port name; no '=' or '|' (they end a label or the data).
std::string Label(const std::string& port, const std::string& name, bool manyPorts) {
    if (!manyPorts) return name;
    std::string label = "'";
    for (char c : StatusText(port) + " " + name)
        label += c == '\'' ? std::string("''") : c == '=' ? std::string("_") : std::string(1, c);
    return label + "'";
}

// A bound a tenth of which the uncertainty should reach: the smallest
// positive one of the range; 0 when it has none.
double SmallestBound(const TAlertRange& range) {
    double smallest = 0;
    for (const auto& [unbounded, value] : {std::pair{range.lowUnbounded, range.low}, {range.highUnbounded, range.high}})
        if (!unbounded && value > 0 && (smallest == 0 || value < smallest)) smallest = value;
    return smallest;
}

struct TPortVerdict {
    TPluginState state = PLUGIN_OK;
    std::string text;
    std::string perf;
};

TPortVerdict Judge(const TClockHealth& health, const TAlertRange& warn, const TAlertRange& crit,
                   const std::string& setupFile, bool manyPorts) {
    TPortVerdict verdict;
    if (health.refused) {
        verdict.state = PLUGIN_UNKNOWN;
        verdict.text = health.reason;
        return verdict;
    }
    if (health.busy) {
        verdict.state = PLUGIN_UNKNOWN;
        verdict.text = health.holder.empty()
                           ? FormatString(GetString(IDS_CTL_CHECK_HELD).c_str(), health.port.c_str())
                           : FormatString(GetString(IDS_CTL_CHECK_HELD_BY).c_str(), health.port.c_str(),
                                          health.holder.c_str());
        return verdict;
    }
    const std::string where = manyPorts ? health.port + ": " : std::string();
    if (health.polls > 0) {
        verdict.state = OffsetState(health.offset, health.uncertainty, warn, crit);
        verdict.text = where + "offset " + Seconds(health.offset) + " s +- " + Seconds(health.uncertainty) + " s (" +
                       std::to_string(health.polls) + (health.polls == 1 ? " poll)" : " polls)");
        // The middle alone would have flattered: say why the state is worse.
        if (verdict.state != OffsetState(health.offset, 0, warn, crit))
            verdict.text += verdict.state == PLUGIN_CRITICAL ? ", may be beyond the critical threshold"
                                                             : ", may be beyond the warning threshold";
        verdict.perf = Label(health.port, "offset", manyPorts) + "=" + Seconds(health.offset) + "s;" +
                       warn.Normalised() + ";" + crit.Normalised() + " " + Label(health.port, "uncertainty", manyPorts) +
                       "=" + Seconds(health.uncertainty) + "s";
    }
    if (!health.up) {
        verdict.state = PLUGIN_CRITICAL;
        const std::string silent =
            FormatString(GetString(IDS_CTL_CHECK_SILENT).c_str(), health.port.c_str(), health.reason.c_str());
        verdict.text = verdict.text.empty() ? silent : silent + "; " + verdict.text;
    } else if (!health.differences.empty()) {
        verdict.state = PLUGIN_CRITICAL;
        std::string items;
        for (const auto& d : health.differences)
            items += (items.empty() ? "" : ", ") + std::to_string(d.item) + " " + d.label;
        verdict.text = FormatString(GetString(IDS_CTL_CHECK_SETUP_DIFFERS).c_str(), health.port.c_str(),
                                    setupFile.c_str(), static_cast<int>(health.differences.size()), items.c_str()) +
                       "; " + verdict.text;
    }
    return verdict;
}

int RunCheck(const CCommandLine& global, const CCommandLine& args) {
    // Notes (a raw TCP port cannot send a break, a failed open's reasons)
    // would come before the status line where an engine merges stderr in.
    SetNotesQuiet(!args.Has("verbose"));
    TAlertRange warn, crit;
    std::string error;
    if (!ParseAlertRange(args.Has("warning") ? args.GetValue("warning") : "0.5", warn, error)) return Unknown("-w " + error);
    if (!ParseAlertRange(args.Has("critical") ? args.GetValue("critical") : "1", crit, error)) return Unknown("-c " + error);
    TClockCheckOptions options;
    if (args.Has("for") && !ParseForSeconds(args.GetValue("for"), kLongestFor, options.forSeconds))
        return Unknown(ForSecondsRule(kLongestFor));
    const double bound = SmallestBound(warn) > 0 ? SmallestBound(warn) : SmallestBound(crit);
    options.goalUncertainty = std::max(bound / 10, kFinestGoal);
    const std::string setupFile = args.GetValue("setup");
    if (args.Has("setup")) {
        CClockState declared;
        if (!LoadOrReport(declared, setupFile))
            return Unknown(FormatString(GetString(IDS_CTL_CHECK_SETUP_UNUSABLE).c_str(), setupFile.c_str()));
        options.hasSetup = true;
        options.setup = *declared.GetConfig();
    }
    // After the command wins over before it, as for every port command.
    auto given = [&](const char* name) { return args.Has(name) ? args.GetValue(name) : global.GetValue(name); };
    options.model = given("model");
    options.baud = given("baud");
    std::vector<std::string> ports = global.GetValues("port");
    for (const auto& port : args.GetValues("port")) ports.push_back(port);
    if (ports.empty()) ports.push_back(CtlPortName(global, args));
    // Bad arguments are UNKNOWN before any clock is asked.
    for (const auto& port : ports)
        if (port.empty()) return Unknown("no port to check: give --port DEV");
    if (!options.model.empty())
        if (const std::string refused = RefusedModel(options.model); !refused.empty()) return Unknown(refused);
    if (!options.baud.empty())
        if (const std::string refused = RefusedBaud(options.baud); !refused.empty()) return Unknown(refused);

    std::vector<TClockCheckOptions> looks;
    for (const auto& port : ports) {
        options.port = port;
        looks.push_back(options);
    }
    TPluginState worst = PLUGIN_OK;
    std::string status, perf;
    for (const TClockHealth& health : CheckClocks(looks, kClocksAtOnce)) {
        const TPortVerdict verdict = Judge(health, warn, crit, setupFile, ports.size() > 1);
        if (Rank(verdict.state) > Rank(worst)) worst = verdict.state;
        status += (status.empty() ? "" : "; ") + StatusText(verdict.text);
        if (!verdict.perf.empty()) perf += (perf.empty() ? "" : " ") + verdict.perf;
    }
    std::printf("%s %s - %s%s\n", kPluginName, kStateNames[worst], status.c_str(), perf.empty() ? "" : (" | " + perf).c_str());
    // Output that never arrived leaves the monitor knowing nothing.
    return FinishStdout() == CTL_DONE ? worst : PLUGIN_UNKNOWN;
}

}  // namespace

void AddCheckCommand(std::vector<TCtlCommand>& table) {
    std::vector<TCtlOption> options = {
        {"warning", 'w', "RANGE", "WARNING when the offset's size is outside RANGE (default 0.5)"},
        {"critical", 'c', "RANGE", "CRITICAL when the offset's size is outside RANGE (default 1)"},
        {"for", 0, "SECONDS", "poll the clock's time for at most SECONDS (default 15)"},
        {"setup", 0, "FILE", "CRITICAL when the clock's stored setup differs from FILE's"},
        {"verbose", 'v', nullptr, "also say the port's notes and failures on stderr"}};
    AddPortOptions(options);
    TCtlCommand check{
        "check", "[--port DEV]... [-w RANGE] [-c RANGE] [--for SECONDS] [--setup FILE]",
        "Check a clock's time (and setup) for Nagios, Icinga and other monitoring systems.",
        "Polls the clock's time until the offset's uncertainty is a tenth of the warning\n"
        "threshold (at least 5 ms) or --for has passed, then prints one status line with performance\n"
        "data, as the Monitoring Plugins guidelines ask:\n"
        "  TARVEL OK - offset -0.040 s +- 0.030 s (12 polls) | offset=-0.040s;0.5;1 uncertainty=0.030s\n"
        "The offset is the clock's time minus this host's. As check_ntp_time does, the\n"
        "thresholds are judged against its size (the offset without its sign). RANGE\n"
        "is the plugins' range syntax: N alerts outside 0..N, N: below N, ~:N above N,\n"
        "N:M outside N..M, @N:M inside N..M.\n"
        "The state is the worst that any offset within the uncertainty would have: a\n"
        "clock that may be beyond a threshold is never OK.\n"
        "A clock that does not answer, or whose stored setup differs from --setup FILE\n"
        "(the differing items listed by number and label), is CRITICAL; a port another\n"
        "program holds, or no port at all, is UNKNOWN. With several --port the ports\n"
        "are checked side by side, on one status line; each performance label then\n"
        "carries its port, and the worst state wins.\n"
        "Everything is said on the status line: stderr stays empty unless -v is given.\n"
        "\nExit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (also for bad arguments).\n",
        options, 0, 0, RunCheck, TPortUse::Own};
    check.usageStatus = PLUGIN_UNKNOWN;
    check.usageLine = SayUsage;
    table.push_back(check);
}
