// tarvelctl metrics: each clock's health in the Prometheus text format, for
// node_exporter's textfile collector. Run every minute by tarvel-metrics.timer
// for the clocks of /etc/tarvel/clocks.conf; each port is held for one look
// only, the clocks looked at side by side, and a port another program holds
// is left alone. A bad line of the clock list costs that line, never the
// file: the other clocks are written as usual and the errors counted.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
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
#include "PortSession.h"
#include "Resource.h"
#include "SafeFile.h"
#include "StringTable.h"

namespace {

// Polling ends early once the offset is known this well.
constexpr double kGoalUncertainty = 0.01;
constexpr double kDefaultForSeconds = 10;
constexpr double kLongestFor = 3600;
// The clocks looked at at once; each mostly sleeps between polls.
constexpr std::size_t kClocksAtOnce = 64;
// Larger files are not ours to read back, nor a clock list.
constexpr std::size_t kMaxFileBytes = 1 << 20;

struct TWatched {
    std::string port;
    std::string setupPath;  // empty: no declared setup
    std::string origin;     // "FILE:LINE" for a line of --config, else empty
    std::string site;       // labels given on the line; empty: none
    std::string asset;
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

// The clock list: one clock a line, its port, optionally the setup file it
// should hold (relative to the list's folder), then optionally site=NAME and
// asset=NAME; '#' starts a comment. Every bad line is said with its number
// and left out; the number of them is returned (-1: no list to read).
int ReadClockList(const std::string& path, std::vector<TWatched>& clocks) {
    std::string text, reason;
    if (!ReadSmallFile(path, text, reason)) {
        ReportError(GetString(IDS_ERROR_OPENING_FILE) + " " + path + ": " + reason);
        return -1;
    }
    int bad = 0;
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
        TWatched clock{fields[0], {}, path + ":" + std::to_string(number), {}, {}};
        std::string why;
        for (std::size_t i = 1; i < fields.size() && why.empty(); ++i) {
            const std::string& field = fields[i];
            if (field.rfind("site=", 0) == 0 && clock.site.empty()) clock.site = field.substr(5);
            else if (field.rfind("asset=", 0) == 0 && clock.asset.empty()) clock.asset = field.substr(6);
            else if (i == 1) clock.setupPath = field;
            else why = GetString(IDS_CTL_METRICS_LINE_FIELDS);
        }
        if (why.empty() && seen.count(fields[0]))
            why = FormatString(GetString(IDS_CTL_METRICS_PORT_AGAIN).c_str(), fields[0].c_str(), seen[fields[0]]);
        if (!why.empty()) {
            ReportError(clock.origin + ": " + why);
            ++bad;
            continue;
        }
        seen[fields[0]] = number;
        if (!clock.setupPath.empty() && clock.setupPath[0] != '/') clock.setupPath = Folder(path) + clock.setupPath;
        clocks.push_back(clock);
    }
    return bad;
}

// The length of the UTF-8 sequence at text[at], 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    const unsigned char second = static_cast<unsigned char>(text[at + 1 < text.size() ? at + 1 : at]);
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

// One label value as the text format has it: backslash, quote and line end
// escaped. The format is UTF-8, and node_exporter drops a whole file over
// one byte that is not: such a byte is written as the text \xNN.
std::string EscapeLabel(const std::string& value) {
    std::string out;
    for (std::size_t at = 0; at < value.size();) {
        const char c = value[at];
        const std::size_t length = Utf8Length(value, at);
        if (length == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\\\x%02X", static_cast<unsigned char>(c));
            out += escaped;
            ++at;
            continue;
        }
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out.append(value, at, length);
        at += length;
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
        if (line.compare(0, brace, "tarvel_clock_info") == 0) {
            port.model = labels["model"];
            port.rom = labels["rom"];
        }
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

// A clock looked at, with the labels its line gave.
struct TLooked {
    TClockHealth health;
    std::string site;
    std::string asset;
};

// The exposition text: each family's HELP and TYPE, then its samples. The
// model and ROM are on the info series alone, so a swapped clock starts no
// new series for the rest.
std::string MetricsText(const std::vector<TLooked>& clocks, std::map<std::string, TEarlier>& earlier, int listErrors) {
    TFamily info{"tarvel_clock_info", "Always 1; its labels say the clock's model and ROM date line.", {}};
    TFamily up{"tarvel_clock_up", "1 when the clock answered in this run, else 0.", {}};
    TFamily busy{"tarvel_clock_port_busy", "1 when another program held the port, which was then left alone.", {}};
    TFamily offset{"tarvel_clock_offset_seconds", "The clock's time minus the host's, from timed polls.", {}};
    TFamily uncertainty{"tarvel_clock_offset_uncertainty_seconds",
                        "The true offset lies within the offset plus or minus this.", {}};
    TFamily matches{"tarvel_clock_setup_matches", "1 when the clock holds its declared setup, 0 when items differ.", {}};
    TFamily last{"tarvel_clock_last_success_timestamp_seconds",
                 "When the clock last answered, in seconds since the epoch.", {}};
    TFamily errors{"tarvel_clock_list_errors", "The lines of the clock list that were left out as bad.", {}};
    if (listErrors >= 0) errors.samples = std::string(errors.name) + " " + std::to_string(listErrors) + "\n";
    for (const auto& looked : clocks) {
        const TClockHealth& clock = looked.health;
        TEarlier& before = earlier[clock.stableName];
        // A clock that is away keeps the model and ROM it was last seen with.
        const std::string model = clock.up || before.model.empty() ? clock.model : before.model;
        const std::string rom = clock.up || before.rom.empty() ? clock.rom : before.rom;
        std::string labels = "{port=\"" + EscapeLabel(clock.stableName) + "\"";
        if (!looked.site.empty()) labels += ",site=\"" + EscapeLabel(looked.site) + "\"";
        if (!looked.asset.empty()) labels += ",asset=\"" + EscapeLabel(looked.asset) + "\"";
        labels += "} ";
        auto add = [&labels](TFamily& family, double value) {
            family.samples += std::string(family.name) + labels + Number(value) + "\n";
        };
        info.samples += std::string(info.name) + labels.substr(0, labels.size() - 2) + ",model=\"" +
                        EscapeLabel(model) + "\",rom=\"" + EscapeLabel(rom) + "\"} 1\n";
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
    for (const TFamily* family : {&info, &up, &busy, &offset, &uncertainty, &matches, &last, &errors}) {
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
        clocks.push_back({ports[i], setups.empty() ? std::string() : setups[setups.size() == 1 ? 0 : i], {}, {}, {}});
    return true;
}

int RunMetrics(const CCommandLine& global, const CCommandLine& args) {
    std::vector<TWatched> watched;
    if (!ClocksFromOptions(global, args, watched)) return ReportUsage("metrics", GetString(IDS_CTL_METRICS_SETUP_COUNT));
    double forSeconds = kDefaultForSeconds;
    if (args.Has("for") && !ParseForSeconds(args.GetValue("for"), kLongestFor, forSeconds))
        return ReportUsage("metrics", ForSecondsRule(kLongestFor));
    for (const char* option : {"model", "baud"}) {
        const std::string given = args.Has(option) ? args.GetValue(option) : global.GetValue(option);
        const std::string refused = given.empty() ? std::string()
                                    : std::string(option) == "model" ? RefusedModel(given) : RefusedBaud(given);
        if (!refused.empty()) return ReportUsage("metrics", refused);
    }
    // -1: no clock list; else its bad lines, which are left out.
    int listErrors = -1;
    if (args.Has("config")) {
        listErrors = ReadClockList(args.GetValue("config"), watched);
        // A list that cannot be read at all leaves the last file as it was.
        if (listErrors < 0) return CTL_FAILED;
    }
    if (watched.empty() && listErrors < 0) return ReportUsage("metrics", GetString(IDS_CTL_METRICS_NO_CLOCKS));
    for (const auto& clock : watched)
        if (clock.port.empty()) return ReportUsage("metrics", GetString(IDS_CTL_METRICS_NO_CLOCKS));

    // Every declared setup is loaded before any port is opened. A line whose
    // setup cannot be used counts as bad, and its clock is looked at without.
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
            if (LoadOrReport(state, clock.setupPath)) {
                look.hasSetup = true;
                look.setup = *state.GetConfig();
            } else if (!clock.origin.empty()) {
                ReportError(clock.origin + ": " + GetString(IDS_CTL_METRICS_SETUP_UNUSABLE));
                ++listErrors;
            } else {
                return CTL_FAILED;
            }
        }
        looks.push_back(look);
    }

    std::vector<TLooked> clocks;
    const std::vector<TClockHealth> healths = CheckClocks(looks, kClocksAtOnce);
    for (std::size_t i = 0; i < healths.size(); ++i) {
        TClockHealth health = healths[i];
        if (health.stableName.empty()) health.stableName = health.port;
        // Two names for one clock would give the same series twice.
        bool twice = false;
        for (const auto& other : clocks) twice = twice || other.health.stableName == health.stableName;
        if (twice) {
            ReportError(FormatString(GetString(IDS_CTL_METRICS_SAME_CLOCK).c_str(), looks[i].port.c_str(),
                                     health.stableName.c_str()));
            continue;
        }
        // The journal says why a clock is not up; a busy port's holders
        // were said as its open failed.
        if (!health.up && !health.busy) ReportError(looks[i].port + ": " + health.reason);
        clocks.push_back({health, watched[i].site, watched[i].asset});
    }

    const std::string output = args.Has("output") ? args.GetValue("output") : "-";
    std::map<std::string, TEarlier> earlier = ReadEarlier(output == "-" ? std::string() : output);
    const std::string text = MetricsText(clocks, earlier, listErrors);
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
        "Looks at the clocks side by side, holding each port for its look only: does\n"
        "it answer, how far is its time from this host's (polled up to --for seconds,\n"
        "or until known to 0.01 s), and does it hold its declared setup. A port\n"
        "another program holds is left alone. The gauges, labelled port (its stable\n"
        "name) and the line's site and asset: tarvel_clock_up, tarvel_clock_port_busy,\n"
        "tarvel_clock_offset_seconds (the clock's time minus the host's),\n"
        "tarvel_clock_offset_uncertainty_seconds, tarvel_clock_setup_matches (for a\n"
        "clock with a declared setup), tarvel_clock_last_success_timestamp_seconds\n"
        "(kept from the file -o replaces), and tarvel_clock_info, always 1, whose\n"
        "labels model and rom say what the clock is. With --config,\n"
        "tarvel_clock_list_errors counts the list's lines that were left out.\n"
        "--setup given once holds for every port; given once per --port, the Nth goes\n"
        "with the Nth port. --config names a clock list: one clock a line, its port,\n"
        "optionally the setup file it should hold (relative to the list's folder),\n"
        "then optionally site=NAME and asset=NAME; '#' starts a comment. A bad line\n"
        "is said on stderr and left out, and the other clocks are written as usual;\n"
        "a line whose setup file cannot be used has its clock looked at without it.\n"
        "-o FILE is replaced whole (a file beside it, then renamed), so node_exporter\n"
        "never reads half a file; without -o, or with -o -, the text goes to standard\n"
        "output.\n"
        "Exit status: 0 the metrics were written (whatever they say), 1 they could\n"
        "not be, the clock list could not be read or a --setup file is bad, 2 usage\n"
        "error.\n",
        {{"setup", 0, "FILE", "the setup file the clocks should hold"},
         {"config", 0, "FILE", "the clock list, e.g. /etc/tarvel/clocks.conf"},
         {"output", 'o', "FILE", "the file to write, e.g. /var/lib/prometheus/node-exporter/tarvel.prom"},
         {"for", 0, "SECONDS", "the longest a clock's time is polled (default 10, at most 3600)"}},
        0,
        0,
        RunMetrics};
    AddPortOptions(metrics.options);
    metrics.ports = TPortUse::Own;
    table.push_back(metrics);
}
