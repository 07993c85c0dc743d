// tarvelctl's commands: each is a row of the command table, with its own
// options and help, so new commands (the port ones) are added as new rows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "CommandLine.h"

class CClockState;
class CFileError;

struct TClockConfig;

// Exit codes.
constexpr int CTL_DONE = 0;
constexpr int CTL_FAILED = 1;  // refused or failed; one line on stderr says why
constexpr int CTL_USAGE = 2;   // the command line itself is wrong

// What a command does with --port given more than once.
enum class TPortUse {
    One,   // one port only: a second --port is a usage error
    Many,  // each port served at once by its own tarvelctl (see RunManyPorts)
    Own,   // the command takes any number of ports itself
};

struct TCtlCommand {
    const char* name;
    const char* usage;    // after "tarvelctl NAME "
    const char* summary;  // one line for the overview
    const char* details;  // the rest of NAME --help
    std::vector<TCtlOption> options;
    std::size_t minArgs;
    std::size_t maxArgs;  // SIZE_MAX for any number
    // global: the options given before the command; args: the command's own.
    int (*run)(const CCommandLine& global, const CCommandLine& args);
    TPortUse ports = TPortUse::One;
    int usageStatus = CTL_USAGE;  // the exit status of a usage error (a monitoring plugin's is 3)
    // Says a usage error instead of stderr (a monitoring plugin's status line); null: stderr.
    void (*usageLine)(const std::string& reason) = nullptr;
};

// Appends the commands that work on setup files.
void AddFileCommands(std::vector<TCtlCommand>& table);
// Appends the commands that talk to a clock on a serial port.
void AddPortCommands(std::vector<TCtlCommand>& table);
// Appends the command that lists the serial ports.
void AddPortsCommand(std::vector<TCtlCommand>& table);
// Appends diff, which compares two setups.
void AddDiffCommands(std::vector<TCtlCommand>& table);
// Appends export and import, the editable text form of a setup.
void AddTextCommands(std::vector<TCtlCommand>& table);
// Appends the command that looks for clocks on the ports.
void AddProbeCommand(std::vector<TCtlCommand>& table);
// Appends check, the monitoring plugin.
void AddCheckCommand(std::vector<TCtlCommand>& table);
// Appends metrics, the clocks' health for Prometheus' node_exporter.
void AddMetricsCommand(std::vector<TCtlCommand>& table);
// Appends --port and --model, taken before a port command or after it.
void AddPortOptions(std::vector<TCtlOption>& options);
// Appends the backups and restore commands.
void AddBackupCommands(std::vector<TCtlCommand>& table);

// The options of a write: --countdown, --no-backup, --force.
std::vector<TCtlOption> WriteOptions();
// --countdown's seconds (the default when not given): CTL_DONE, else the
// usage error's status (said on stderr). Parsed before the command does anything.
int ParseCountdown(const char* command, const CCommandLine& args, long& seconds);
// The port a port command works on: --port, else the stored one.
std::string CtlPortName(const CCommandLine& global, const CCommandLine& args);
// Writes record into the clock as write does (a backup first, unless
// --no-backup; nothing sent when the clock holds it, unless --force).
// countdownSeconds: as ParseCountdown gave it.
// modelHint: the model to use when no --model is given; empty for the stored.
// held: the clock's setup as just read, which is then not read again.
int WriteSetupToClock(const char* command, const CCommandLine& global, const CCommandLine& args,
                      const TClockConfig& record, long countdownSeconds, const std::string& modelHint,
                      const TClockConfig* held = nullptr);

// Runs command once for every port, all at once, each in a tarvelctl of its
// own given that one port; every line they print is prefixed "PORT: ". With
// an output option, it names a directory that takes one file per port. The
// worst exit status of them.
int RunManyPorts(const TCtlCommand& command, const std::vector<TCtlOption>& globalOptions,
                 const CCommandLine& global, const CCommandLine& args, const std::vector<std::string>& ports);
// A file name for a port: "/dev/ttyUSB0" -> "ttyUSB0".
std::string PortFileName(const std::string& port);

// tarvelctl time get|set|watch.
int RunTimeCommand(const CCommandLine& global, const CCommandLine& args);
// A whole decimal number from 0 to max.
bool ParseCount(const std::string& text, long max, long& value);
// The signal that stopped a write or a watch, as the user knows it.
const char* StopName();

// "Error Opening File! PATH: reason" (or Saving) for a file error.
std::string FileErrorText(const CFileError& e);
// Loads a setup file; false (the reason already on stderr, naming the file)
// when it cannot be used.
bool LoadOrReport(CClockState& state, const std::string& path);

// Writes bytes to stdout and flushes; false (reported) when stdout fails.
bool WriteStdout(const std::string& bytes);
// CTL_DONE when all that was printed reached stdout, else CTL_FAILED
// (reported). The error flag also remembers a failed write an earlier
// flush hit.
int FinishStdout();

// "tarvelctl: <text>" on stderr, control bytes made visible (VisibleText)
// but for the line feeds between its lines.
void ReportError(const std::string& text);
// Quiet: ReportError says nothing (a monitoring plugin, whose engine reads
// stderr as output, says all on its status line). Process-wide.
void SetNotesQuiet(bool quiet);
// A usage error: the reason and where to find help, on stderr; returns CTL_USAGE.
int ReportUsage(const std::string& command, const std::string& reason);
