// tarvelctl: the command-line companion of tarvel, for scripts and for many
// clocks at once. It never shows a window: what the core tells the user
// becomes lines on stderr.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "ClockModel.h"
#include "CommandLine.h"
#include "CtlClockUi.h"
#include "CtlCommand.h"
#include "LineTrace.h"
#include "PortCatalogue.h"
#include "PortSession.h"
#include "Profile.h"
#include "Resource.h"
#include "StringTable.h"
#include "SimPort.h"
#include "TarvelVersion.h"
#include "TextUtil.h"

namespace {

const TCtlOption kQuietOption = {"quiet", 'q', nullptr, "no countdown lines while a write waits"};
const TCtlOption kVersionOption = {"version", 'V', nullptr, "print the version and exit"};
const TCtlOption kListOption = {"list", 0, "models|commands",
                                "print the models (name, tab, the text their commands carry) or the texts sent"};
constexpr char kExitStatus[] = "Exit status: 0 done, 1 failed, refused or cancelled, 2 usage error.\n";
// What a usage error exits with: the command's own status once it is known.
int g_usageStatus = CTL_USAGE;
// And how it is said: the command's own way once it is known, else stderr.
void (*g_usageLine)(const std::string&) = nullptr;
// ReportError says nothing (SetNotesQuiet); sessions on several threads read it.
std::atomic<bool> g_notesQuiet{false};

// Options given before the command.
std::vector<TCtlOption> GlobalOptions() {
    std::vector<TCtlOption> options;
    AddPortOptions(options);
    options.push_back(kQuietOption);
    options.push_back(kVersionOption);
    return options;
}

// The edits (insert, delete, change a letter) that turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The command a mistyped name most likely meant; null when none is close.
const TCtlCommand* Nearest(const std::string& name, const std::vector<TCtlCommand>& table) {
    const TCtlCommand* best = nullptr;
    std::size_t bestDistance = 0;
    for (const auto& c : table) {
        const std::size_t d = EditDistance(name, c.name);
        if (!best || d < bestDistance) {
            best = &c;
            bestDistance = d;
        }
    }
    // Close: at most two edits, and fewer than the name has letters.
    const std::size_t limit = std::min<std::size_t>(2, (name.size() + 1) / 2);
    return best && bestDistance <= limit ? best : nullptr;
}

std::vector<TCtlCommand> BuildTable() {
    std::vector<TCtlCommand> table;
    AddFileCommands(table);
    AddPortCommands(table);
    AddPortsCommand(table);
    AddDiffCommands(table);
    AddTextCommands(table);
    AddBackupCommands(table);
    AddProbeCommand(table);
    AddCheckCommand(table);
    AddMetricsCommand(table);
    // Several --port: each port served at once.
    for (auto& c : table)
        if (std::strcmp(c.name, "read") == 0 || std::strcmp(c.name, "write") == 0 || std::strcmp(c.name, "time") == 0 ||
            std::strcmp(c.name, "diff") == 0)
            c.ports = TPortUse::Many;
    return table;
}

void PrintOverview(std::ostream& out, const std::vector<TCtlCommand>& table) {
    out << "Usage: tarvelctl COMMAND [ARGS...]\n"
           "Works with Halvern Systems GPS time clock setups.\n\nCommands:\n";
    for (const auto& c : table) {
        std::string head = std::string(c.name) + " " + c.usage;
        if (head.size() < 30) head.resize(30, ' ');
        out << "  " << head << "  " << c.summary << "\n";
    }
    out << "\nOptions for the port commands, before or after the command:\n";
    for (const auto& o : GlobalOptions()) {
        if (!o.valueName) continue;  // the switches follow
        std::string head = std::string("--") + o.longName + " " + o.valueName;
        if (head.size() < 30) head.resize(30, ' ');
        out << "  " << head << "  " << o.help << "\n";
    }
    out << "  -q, --quiet                     " << kQuietOption.help << "\n";
    out << "  -V, --version                   " << kVersionOption.help << "\n";
    out << "  --list " << kListOption.valueName << "          " << kListOption.help << ", and exit\n";
    out << "\n--port may be given several times for read, write, time, diff (each port served at\n"
           "once, each line prefixed with its port, or with --json one document; read -o then\n"
           "names a folder), probe, check and metrics.\n";
    out << "\nEvery command takes --help ('tarvelctl help COMMAND' says the same). " << kExitStatus;
}

void PrintCommandHelp(const TCtlCommand& c) {
    std::cout << "Usage: tarvelctl " << c.name << " " << c.usage << "\n" << c.summary << "\n";
    if (c.details && *c.details) std::cout << "\n" << c.details;
    if (!c.options.empty()) {
        std::cout << "\nOptions:\n";
        for (const auto& o : c.options) {
            std::string head;
            if (o.shortName) head = std::string("-") + o.shortName + ", ";
            head += std::string("--") + o.longName;
            if (o.valueName) head += std::string(" ") + o.valueName;
            if (head.size() < 20) head.resize(20, ' ');
            std::cout << "  " << head << "  " << o.help << "\n";
        }
    }
    // A command with statuses of its own says so in its details.
    if (!c.details || !std::strstr(c.details, "Exit status")) std::cout << "\n" << kExitStatus;
}

// Where a path is: its device and inode, or, for one not made yet, its
// folder's and its name.
struct TFileId {
    dev_t dev = 0;
    ino_t ino = 0;
    std::string leaf;
    bool operator==(const TFileId& o) const { return dev == o.dev && ino == o.ino && leaf == o.leaf; }
};

bool IdentifyFile(const std::string& path, TFileId& id) {
    struct stat st {};
    if (path.empty()) return false;
    if (::stat(path.c_str(), &st) == 0) {
        id = {st.st_dev, st.st_ino, std::string()};
        return true;
    }
    if (errno != ENOENT) return false;
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (leaf.empty() || ::stat(folder.c_str(), &st) != 0) return false;
    id = {st.st_dev, st.st_ino, leaf};
    return true;
}

// The file a trace would empty must not be one the command reads or writes:
// its arguments, every option's value (a setup file, an output, a port's
// device) and the profile. The offending name, or empty.
std::string TraceConflict(const std::string& trace, const CCommandLine& global, const CCommandLine& args) {
    TFileId traceId;
    if (!IdentifyFile(trace, traceId)) return std::string();
    std::vector<std::string> used = args.GetArgs();
    for (const auto* line : {&global, &args})
        for (const auto& [name, values] : line->GetOptions()) {
            if (name == "trace") continue;
            for (const auto& value : values) {
                used.push_back(value);
                if (name == "port") used.push_back(CPortCatalogue::DevicePath(value));
            }
        }
    used.push_back(GetProfilePath());
    for (const auto& path : used) {
        TFileId id;
        if (path != "-" && IdentifyFile(path, id) && id == traceId) return path;
    }
    return std::string();
}

// Two --port for one device: by name, or by the device they open.
std::string DuplicatePort(const std::vector<std::string>& ports) {
    std::vector<std::pair<std::string, std::string>> seen;  // (port, what it opens)
    for (const auto& port : ports) {
        std::string key = CPortCatalogue::VirtualPortName(port);
        if (!key.empty()) {
            key = "virtual:" + key;
        } else {
            const std::string path = CPortCatalogue::DevicePath(CPortCatalogue::OpenName(port));
            struct stat st {};
            key = ::stat(path.c_str(), &st) == 0
                      ? (S_ISCHR(st.st_mode) ? "device:" + std::to_string(st.st_rdev)
                                             : "file:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino))
                      : "name:" + path;
        }
        for (const auto& [other, otherKey] : seen) {
            if (other == port) return FormatString(GetString(IDS_CTL_PORT_TWICE).c_str(), port.c_str());
            if (otherKey == key)
                return FormatString(GetString(IDS_CTL_SAME_DEVICE).c_str(), other.c_str(), port.c_str());
        }
        seen.emplace_back(port, key);
    }
    return std::string();
}

// Help that could not be written is not help given.
int FinishHelp() {
    if (std::cout.flush()) return CTL_DONE;
    ReportError("cannot write to standard output");
    return CTL_FAILED;
}

// --list: the model table and the command texts, for scripts and for the
// tests that keep other lists in step with them.
int PrintList(const std::string& what) {
    if (what == "models") {
        for (const auto& row : CLOCK_MODELS) std::cout << row.name << '\t' << row.commandText << '\n';
    } else if (what == "commands") {
        for (const auto& text : CClockModel::AllCommandTexts()) std::cout << text << '\n';
    } else {
        return ReportUsage("", "--list takes models or commands");
    }
    return FinishHelp();
}

}  // namespace

void ReportError(const std::string& text) {
    if (g_notesQuiet) return;
    // Notes quote files, ports and the clock: nothing of theirs may act on the
    // terminal. A reason of several lines keeps them.
    std::fprintf(stderr, "tarvelctl: %s\n", VisibleText(text, true).c_str());
    std::fflush(stderr);
}

void SetNotesQuiet(bool quiet) { g_notesQuiet = quiet; }

int ReportUsage(const std::string& command, const std::string& reason) {
    if (g_usageLine) {
        g_usageLine(reason);
        return g_usageStatus;
    }
    ReportError(reason);
    std::fprintf(stderr, "Try 'tarvelctl %s--help'.\n", command.empty() ? "" : (command + " ").c_str());
    return g_usageStatus;
}

int main(int argc, char** argv) {
    // A profile setting that could not be used as written: one line on stderr.
    SetProfileNoticeSink([](const std::string& text) { ReportError(text); });
    // --port SIM: the simulated clock, for trying commands without hardware.
    RegisterSimPort();

    const std::vector<TCtlCommand> table = BuildTable();
    const std::vector<std::string> args(argv + 1, argv + argc);

    CCommandLine global;
    std::string error;
    std::vector<TCtlOption> options = GlobalOptions();
    options.push_back(kListOption);
    if (!global.Parse(args, options, true, error)) return ReportUsage("", error);
    if (global.Has("version") && !global.WantsHelp()) {
        std::cout << "tarvelctl " << TARVEL_VERSION_STRING << "\n";
        return FinishHelp();
    }
    if (global.Has("list") && !global.WantsHelp()) return PrintList(global.GetValue("list"));
    if (global.GetArgs().empty()) {
        if (global.WantsHelp()) {
            PrintOverview(std::cout, table);
            return FinishHelp();
        }
        PrintOverview(std::cerr, table);
        return CTL_USAGE;
    }

    std::string name = global.GetArgs().front();
    // "help" and "help COMMAND" say what --help says.
    const bool helpCommand = name == "help";
    if (helpCommand) {
        if (global.GetRest().empty()) {
            PrintOverview(std::cout, table);
            return FinishHelp();
        }
        name = global.GetRest().front();
    }
    const TCtlCommand* command = nullptr;
    for (const auto& c : table)
        if (name == c.name) command = &c;
    if (command && helpCommand) {
        PrintCommandHelp(*command);
        return FinishHelp();
    }
    if (!command) {
        if (const TCtlCommand* near = Nearest(name, table))
            return ReportUsage("", FormatString(GetString(IDS_CTL_DID_YOU_MEAN).c_str(), name.c_str(), near->name));
        return ReportUsage("", FormatString(GetString(IDS_CTL_UNKNOWN_COMMAND).c_str(), name.c_str()));
    }
    g_usageStatus = command->usageStatus;
    g_usageLine = command->usageLine;

    // -q is taken after the command as well.
    std::vector<TCtlOption> commandOptions = command->options;
    commandOptions.push_back(kQuietOption);
    CCommandLine commandArgs;
    if (!commandArgs.Parse(global.GetRest(), commandOptions, false, error))
        return ReportUsage(name, error);
    if (commandArgs.WantsHelp() || global.WantsHelp()) {
        PrintCommandHelp(*command);
        return FinishHelp();
    }
    const std::size_t n = commandArgs.GetArgs().size();
    if (n < command->minArgs) return ReportUsage(name, "missing arguments");
    if (n > command->maxArgs) return ReportUsage(name, "too many arguments");
    CCtlCountdown::SetQuiet(global.Has("quiet") || commandArgs.Has("quiet"));

    // A command for many ports takes every --port, before and after it; for
    // one port, one given after the command wins over one given before it,
    // as with any option.
    std::vector<std::string> ports =
        commandArgs.Has("port") ? commandArgs.GetValues("port") : global.GetValues("port");
    if (command->ports == TPortUse::Many && commandArgs.Has("port")) {
        ports = global.GetValues("port");
        for (const auto& port : commandArgs.GetValues("port")) ports.push_back(port);
    }
    if (ports.size() > 1 && command->ports != TPortUse::One)
        if (const std::string twice = DuplicatePort(ports); !twice.empty()) return ReportUsage(name, twice);
    if (ports.size() > 1 && command->ports == TPortUse::Many)
        return RunManyPorts(*command, GlobalOptions(), global, commandArgs, ports);
    if (ports.size() > 1 && command->ports == TPortUse::One)
        return ReportUsage(name, FormatString(GetString(IDS_CTL_ONE_PORT_ONLY).c_str(), name.c_str()));
    // Each port's own tarvelctl opens its own trace (see RunManyPorts).
    if (commandArgs.Has("trace") || global.Has("trace")) {
        const std::string path = commandArgs.Has("trace") ? commandArgs.GetValue("trace") : global.GetValue("trace");
        if (const std::string used = TraceConflict(path, global, commandArgs); !used.empty())
            return ReportUsage(name, FormatString(GetString(IDS_CTL_TRACE_IS_USED).c_str(), path.c_str(), used.c_str()));
        std::string reason;
        auto trace = CLineTrace::Open(path, reason);
        if (!trace) {
            ReportError(FormatString(GetString(IDS_TRACE_OPEN_FAILED).c_str(), path.c_str(), reason.c_str()));
            return CTL_FAILED;
        }
        // A trace that can no longer be written is said once; the command goes on.
        trace->SetFailureSink([path](const std::string& why) {
            ReportError(FormatString(GetString(IDS_TRACE_OPEN_FAILED).c_str(), path.c_str(), why.c_str()));
        });
        CPortSession::SetTrace(std::move(trace));
    }
    return command->run(global, commandArgs);
}
