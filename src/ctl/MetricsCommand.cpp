// tarvelctl metrics: each clock's health in the Prometheus text format, for
// node_exporter's textfile collector. Run every minute by tarvel-metrics.timer
// for the clocks of /etc/tarvel/clocks.conf; each port is held for one look
// only, one port after the other, and a port another program holds is left
// alone.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ClockCheck.h"
#include "ClockFile.h"
#include "ClockState.h"
#include "CtlCommand.h"
#include "Resource.h"
#include "SafeFile.h"
#include "StringTable.h"

namespace {

// Polling ends early once the offset is known this well.
constexpr double kGoalUncertainty = 0.01;
constexpr double kDefaultForSeconds = 10;
// Larger files are not ours to read back, nor a clock list.
constexpr std::size_t kMaxFileBytes = 1 << 20;

struct TWatched {
    std::string port;
    std::string setupPath;  // empty: no declared setup
    std::string origin;     // "FILE:LINE" for a line of --config, else empty
};

// What a previous run wrote about a port, keyed by its port label.
struct TEarlier {
    std::string model;
    std::string rom;
    double lastSuccess = -1;  // none
};

// The whole of a regular file of at most kMaxFileBytes; false with reason.
bool ReadSmallFile(const std::string& path, std::string& text, std::string& reason) {
    const int fd = OpenRegularFile(path, reason);
    if (fd < 0) return false;
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) reason = std::strerror(errno);
        if (n <= 0 || text.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
            if (n > 0) reason = std::strerror(EFBIG);
            ::close(fd);
            return n == 0;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The clock list: one clock a line, its port and optionally the setup file
// it should hold (relative to the list's folder); '#' starts a comment.
// Every bad line is said with its number; false when there was any.
bool ReadClockList(const std::string& path, std::vector<TWatched>& clocks) {
    std::string text, reason;
    if (!ReadSmallFile(path, text, reason)) {
        ReportError(GetString(IDS_ERROR_OPENING_FILE) + " " + path + ": " + reason);
        return false;
    }
    bool good = true;
    std::map<std::string, int> seen;  // port -> its line
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::vector<std::string> fields;
        std::size_t at = 0;
        while (at < line.size()) {
            const std::size_t start = line.find_first_not_of(" \t\r", at);
            if (start == std::string::npos || line[start] == '#') break;
            at = line.find_first_of(" \t\r", start);
            fields.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
        }
        if (fields.empty()) continue;
        const std::string where = path + ":" + std::to_string(number);
        std::string bad;
        if (fields.size() > 2) bad = GetString(IDS_CTL_METRICS_LINE_FIELDS);
        else if (seen.count(fields[0]))
            bad = FormatString(GetString(IDS_CTL_METRICS_PORT_AGAIN).c_str(), fields[0].c_str(), seen[fields[0]]);
        if (!bad.empty()) {
            ReportError(where + ": " + bad);
            good = false;
            continue;
        }
        seen[fields[0]] = number;
        std::string setup = fields.size() > 1 ? fields[1] : std::string();
        if (!setup.empty() && setup[0] != '/') setup = Folder(path) + setup;
        clocks.push_back({fields[0], setup, where});
    }
    return good;
}

// One label value as the text format has it: backslash, quote and line end escaped.
std::string EscapeLabel(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

// The shortest text that reads back as the same double.
std::string Number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

// A label set {name="value",...} from text at `at` (just past the '{');
// `at` ends past the '}'. False when the text is not one.
bool ParseLabels(const std::string& text, std::size_t& at, std::map<std::string, std::string>& labels) {
    while (at < text.size() && text[at] != '}') {
        const std::size_t eq = text.find("=\"", at);
        if (eq == std::string::npos) return false;
        std::string name = text.substr(at, eq - at), value;
        for (at = eq + 2; at < text.size() && text[at] != '"'; ++at) {
            if (text[at] == '\\' && at + 1 < text.size()) {
                ++at;
                value += text[at] == 'n' ? '\n' : text[at];
            } else {
                value += text[at];
            }
        }
        if (at >= text.size()) return false;
        labels[name] = value;
        ++at;
        if (at < text.size() && text[at] == ',') ++at;
    }
    if (at >= text.size()) return false;
    ++at;
    return true;
}

// What the last run wrote to path, by port; nothing when there is no such
// file or it is not ours. Lines that do not parse are passed over.
std::map<std::string, TEarlier> ReadEarlier(const std::string& path) {
    std::map<std::string, TEarlier> earlier;
    std::string text, reason;
    if (path.empty() || !ReadSmallFile(path, text, reason)) return earlier;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("tarvel_clock_", 0) != 0) continue;
        const std::size_t brace = line.find('{');
        if (brace == std::string::npos) continue;
        std::size_t at = brace + 1;
        std::map<std::string, std::string> labels;
        if (!ParseLabels(line, at, labels) || !labels.count("port")) continue;
        TEarlier& port = earlier[labels["port"]];
        port.model = labels["model"];
        port.rom = labels["rom"];
        if (line.compare(0, brace, "tarvel_clock_last_success_timestamp_seconds") != 0) continue;
        const char* begin = line.c_str() + at;
        while (*begin == ' ') ++begin;
        char* end = nullptr;
        const double value = std::strtod(begin, &end);
        if (end != begin && std::isfinite(value)) port.lastSuccess = value;
    }
    return earlier;
}

struct TFamily {
    const char* name;
    const char* help;
    std::string samples;
};

// The exposition text: each family's HELP and TYPE, then its samples.
std::string MetricsText(const std::vector<TClockHealth>& clocks, std::map<std::string, TEarlier>& earlier) {
    TFamily up{"tarvel_clock_up", "1 when the clock answered in this run, else 0.", {}};
    TFamily busy{"tarvel_clock_port_busy", "1 when another program held the port, which was then left alone.", {}};
    TFamily offset{"tarvel_clock_offset_seconds", "The clock's time minus the host's, from timed polls.", {}};
    TFamily uncertainty{"tarvel_clock_offset_uncertainty_seconds",
                        "The true offset lies within the offset plus or minus this.", {}};
    TFamily matches{"tarvel_clock_setup_matches", "1 when the clock holds its declared setup, 0 when items differ.", {}};
    TFamily last{"tarvel_clock_last_success_timestamp_seconds",
                 "When the clock last answered, in seconds since the epoch.", {}};
    for (const auto& clock : clocks) {
        TEarlier& before = earlier[clock.stableName];
        // A clock that is away keeps the labels it was last seen with.
        const std::string model = clock.up || before.model.empty() ? clock.model : before.model;
        const std::string rom = clock.up || before.rom.empty() ? clock.rom : before.rom;
        const std::string labels = "{port=\"" + EscapeLabel(clock.stableName) + "\",model=\"" + EscapeLabel(model) +
                                   "\",rom=\"" + EscapeLabel(rom) + "\"} ";
        auto add = [&labels](TFamily& family, double value) {
            family.samples += std::string(family.name) + labels + Number(value) + "\n";
        };
        add(up, clock.up ? 1 : 0);
        add(busy, clock.busy ? 1 : 0);
        if (clock.polls > 0) {
            add(offset, clock.offset);
            add(uncertainty, clock.uncertainty);
        }
        if (clock.setupChecked) add(matches, clock.differences.empty() ? 1 : 0);
        if (clock.up) before.lastSuccess = clock.checkedAt;
        if (before.lastSuccess >= 0) add(last, before.lastSuccess);
    }
    std::string text;
    for (const TFamily* family : {&up, &busy, &offset, &uncertainty, &matches, &last}) {
        if (family->samples.empty()) continue;
        text += std::string("# HELP ") + family->name + " " + family->help + "\n# TYPE " + family->name + " gauge\n" +
                family->samples;
    }
    return text;
}

// The clocks named on the command line: --setup once for all, or once per --port.
bool ClocksFromOptions(const CCommandLine& global, const CCommandLine& args, std::vector<TWatched>& clocks) {
    std::vector<std::string> ports = global.GetValues("port");
    for (const auto& port : args.GetValues("port")) ports.push_back(port);
    const std::vector<std::string> setups = args.GetValues("setup");
    if (!setups.empty() && (ports.empty() || (setups.size() != 1 && setups.size() != ports.size()))) return false;
    for (std::size_t i = 0; i < ports.size(); ++i)
        clocks.push_back({ports[i], setups.empty() ? std::string() : setups[setups.size() == 1 ? 0 : i], {}});
    return true;
}

int RunMetrics(const CCommandLine& global, const CCommandLine& args) {
    std::vector<TWatched> watched;
    if (!ClocksFromOptions(global, args, watched)) return ReportUsage("metrics", GetString(IDS_CTL_METRICS_SETUP_COUNT));
    double forSeconds = kDefaultForSeconds;
    if (args.Has("for")) {
        const std::string given = args.GetValue("for");
        char* end = nullptr;
        forSeconds = std::strtod(given.c_str(), &end);
        if (given.empty() || *end || !std::isfinite(forSeconds) || forSeconds < 0 || forSeconds > 3600)
            return ReportUsage("metrics", FormatString(GetString(IDS_CTL_METRICS_FOR_RANGE).c_str(), given.c_str()));
    }
    if (args.Has("config") && !ReadClockList(args.GetValue("config"), watched)) return CTL_FAILED;
    if (watched.empty()) return ReportUsage("metrics", GetString(IDS_CTL_METRICS_NO_CLOCKS));

    // Every declared setup is loaded before any port is opened.
    std::vector<TClockCheckOptions> looks;
    for (const auto& clock : watched) {
        TClockCheckOptions look;
        look.port = clock.port;
        look.command = "metrics";
        look.model = args.Has("model") ? args.GetValue("model") : global.GetValue("model");
        look.baud = args.Has("baud") ? args.GetValue("baud") : global.GetValue("baud");
        look.forSeconds = forSeconds;
        look.goalUncertainty = kGoalUncertainty;
        if (!clock.setupPath.empty()) {
            CClockState state;
            if (!LoadOrReport(state, clock.setupPath)) {
                if (!clock.origin.empty()) ReportError(clock.origin + ": " + GetString(IDS_CTL_METRICS_SETUP_UNUSABLE));
                return CTL_FAILED;
            }
            look.hasSetup = true;
            look.setup = *state.GetConfig();
        }
        looks.push_back(look);
    }

    std::vector<TClockHealth> clocks;
    for (const auto& look : looks) {
        TClockHealth health = CheckClock(look);
        if (health.refused) return ReportUsage("metrics", health.reason);
        if (health.stableName.empty()) health.stableName = health.port;
        // Two names for one clock would give the same series twice.
        bool twice = false;
        for (const auto& other : clocks) twice = twice || other.stableName == health.stableName;
        if (twice) {
            ReportError(FormatString(GetString(IDS_CTL_METRICS_SAME_CLOCK).c_str(), look.port.c_str(),
                                     health.stableName.c_str()));
            continue;
        }
        // The journal says why a clock is not up; a busy port's holders
        // were said as its open failed.
        if (!health.up && !health.busy) ReportError(look.port + ": " + health.reason);
        clocks.push_back(health);
    }

    const std::string output = args.Has("output") ? args.GetValue("output") : "-";
    std::map<std::string, TEarlier> earlier = ReadEarlier(output == "-" ? std::string() : output);
    const std::string text = MetricsText(clocks, earlier);
    if (output == "-") return WriteStdout(text) ? FinishStdout() : CTL_FAILED;
    try {
        WriteFileAtomically(output, text);
    } catch (const CFileError& e) {
        ReportError(FileErrorText(e));
        return CTL_FAILED;
    }
    return CTL_DONE;
}

}  // namespace

void AddMetricsCommand(std::vector<TCtlCommand>& table) {
    TCtlCommand metrics{
        "metrics", "[--port DEV]... [--config FILE] [-o FILE]",
        "Write the clocks' health in the Prometheus text format, for node_exporter.",
        "Looks at each clock in turn, holding its port for that look only: does it\n"
        "answer, how far is its time from this host's (polled up to --for seconds, or\n"
        "until known to 0.01 s), and does it hold its declared setup. A port another\n"
        "program holds is left alone. The gauges, labelled port (its stable name),\n"
        "model and rom: tarvel_clock_up, tarvel_clock_port_busy,\n"
        "tarvel_clock_offset_seconds (the clock's time minus the host's),\n"
        "tarvel_clock_offset_uncertainty_seconds, tarvel_clock_setup_matches (for a\n"
        "clock with a declared setup) and tarvel_clock_last_success_timestamp_seconds\n"
        "(kept from the file -o replaces).\n"
        "--setup given once holds for every port; given once per --port, the Nth goes\n"
        "with the Nth port. --config names a clock list: one clock a line, its port\n"
        "and optionally the setup file it should hold (relative to the list's\n"
        "folder); '#' starts a comment. -o FILE is replaced whole (a file beside it,\n"
        "then renamed), so node_exporter never reads half a file; without -o, or\n"
        "with -o -, the text goes to standard output.\n"
        "Exit status: 0 the metrics were written (whatever they say), 1 they could\n"
        "not be, or the clock list or a setup file is bad, 2 usage error.\n",
        {{"setup", 0, "FILE", "the setup file the clocks should hold"},
         {"config", 0, "FILE", "the clock list, e.g. /etc/tarvel/clocks.conf"},
         {"output", 'o', "FILE", "the file to write, e.g. /var/lib/prometheus/node-exporter/tarvel.prom"},
         {"for", 0, "SECONDS", "the longest a clock's time is polled (default 10)"}},
        0,
        0,
        RunMetrics};
    AddPortOptions(metrics.options);
    metrics.ports = TPortUse::Own;
    table.push_back(metrics);
}
