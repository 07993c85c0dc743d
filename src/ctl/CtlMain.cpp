// tarvelctl: the command-line companion of tarvel, for scripts and for many
// clocks at once. It never shows a window: what the core tells the user
// becomes lines on stderr.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "CtlCommand.h"
#include "LineTrace.h"
#include "PortSession.h"
#include "Profile.h"
#include "Resource.h"
#include "StringTable.h"
#include "SimPort.h"

namespace {

// Options given before the command.
std::vector<TCtlOption> GlobalOptions() {
    std::vector<TCtlOption> options;
    AddPortOptions(options);
    return options;
}

std::vector<TCtlCommand> BuildTable() {
    std::vector<TCtlCommand> table;
    AddFileCommands(table);
    AddPortCommands(table);
    AddPortsCommand(table);
    AddDiffCommands(table);
    AddTextCommands(table);
    AddBackupCommands(table);
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
        std::string head = std::string("--") + o.longName + " " + o.valueName;
        if (head.size() < 30) head.resize(30, ' ');
        out << "  " << head << "  " << o.help << "\n";
    }
    out << "\nEvery command takes --help. Exit status: 0 done, 1 refused or failed, 2 usage.\n";
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
}

// Help that could not be written is not help given.
int FinishHelp() {
    if (std::cout.flush()) return CTL_DONE;
    ReportError("cannot write to standard output");
    return CTL_FAILED;
}

}  // namespace

void ReportError(const std::string& text) {
    std::fprintf(stderr, "tarvelctl: %s\n", text.c_str());
    std::fflush(stderr);
}

int ReportUsage(const std::string& command, const std::string& reason) {
    ReportError(reason);
    std::fprintf(stderr, "Try 'tarvelctl %s--help'.\n", command.empty() ? "" : (command + " ").c_str());
    return CTL_USAGE;
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
    if (!global.Parse(args, GlobalOptions(), true, error)) return ReportUsage("", error);
    if (global.GetArgs().empty()) {
        if (global.WantsHelp()) {
            PrintOverview(std::cout, table);
            return FinishHelp();
        }
        PrintOverview(std::cerr, table);
        return CTL_USAGE;
    }

    const std::string name = global.GetArgs().front();
    const TCtlCommand* command = nullptr;
    for (const auto& c : table)
        if (name == c.name) command = &c;
    if (!command) return ReportUsage("", "unknown command '" + name + "'");

    CCommandLine commandArgs;
    if (!commandArgs.Parse(global.GetRest(), command->options, false, error))
        return ReportUsage(name, error);
    if (commandArgs.WantsHelp() || global.WantsHelp()) {
        PrintCommandHelp(*command);
        return FinishHelp();
    }
    const std::size_t n = commandArgs.GetArgs().size();
    if (n < command->minArgs) return ReportUsage(name, "missing arguments");
    if (n > command->maxArgs) return ReportUsage(name, "too many arguments");
    if (commandArgs.Has("trace") || global.Has("trace")) {
        const std::string path = commandArgs.Has("trace") ? commandArgs.GetValue("trace") : global.GetValue("trace");
        std::string reason;
        auto trace = CLineTrace::Open(path, reason);
        if (!trace) {
            ReportError(FormatString(GetString(IDS_TRACE_OPEN_FAILED).c_str(), path.c_str(), reason.c_str()));
            return CTL_FAILED;
        }
        CPortSession::SetTrace(std::move(trace));
    }
    return command->run(global, commandArgs);
}
