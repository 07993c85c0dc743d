// The commands that talk to a clock on a serial port: read, write, time, send.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockProbe.h"
#include "ClockState.h"
#include "CtlCommand.h"
#include "CtlClockUi.h"
#include "CtlJson.h"
#include "PortSession.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "SetupBackups.h"
#include "Waits.h"  // the process-wide sleep
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

constexpr char kDefaultPort[] = "COM1";
constexpr int kDefaultModel = CClockModel::DEFAULT_MODEL;
constexpr char kAskModel[] = "auto";
// What the Console page sends of a line at most.
constexpr std::size_t kMaxSendLength = 79;

const TCtlOption kPortOption = {"port", 0, "DEV", "the clock's serial port (default: the stored one, else COM1)"};
// "K201 to K206": the first and the last row of the model table.
std::string ModelRange() {
    return std::string(CLOCK_MODELS[0].name) + " to " + CLOCK_MODELS[CClockModel::MODEL_COUNT - 1].name;
}
const std::string kModelHelp =
    "the clock model, " + ModelRange() + ", or auto: ask the clock as probe does (default: the stored one, else auto)";
const TCtlOption kModelOption = {"model", 0, "K20n", kModelHelp.c_str()};
const TCtlOption kBaudOption = {"baud", 0, "RATE", "the line's baud rate, e.g. one probe found (default: the stored one)"};
const TCtlOption kTraceOption = {"trace", 0, "FILE", "record every byte sent and received, with times, in FILE"};

std::vector<TCtlOption> WithPortOptions(std::vector<TCtlOption> options) {
    AddPortOptions(options);
    return options;
}

// An option given after the command wins over the same one given before it.
bool FindOption(const CCommandLine& global, const CCommandLine& args, const char* name, std::string& value) {
    if (args.Has(name)) {
        value = args.GetValue(name);
        return true;
    }
    if (global.Has(name)) {
        value = global.GetValue(name);
        return true;
    }
    return false;
}

// The model to use, and whether the clock is to be asked first (then model is
// the one taken when the clock does not say).
struct TModelChoice {
    int model = kDefaultModel;
    bool ask = false;
};

// --model names a model exactly (any case), or "auto"; the stored "Model"
// preselects the first model whose name begins with it, as the Comm Port page
// does. With neither the clock is asked, as probe asks it.
bool ResolveModel(const TPortChoice& given, TModelChoice& choice, std::string& error) {
    const int stored =
        CClockModel::FindModel(GetProfileString(ProfileKeys::COMMUNICATION, ProfileKeys::MODEL, ""));
    if (!given.hasModel || EqualNoCase(given.model, kAskModel)) {
        choice.model = stored >= 0 ? stored : kDefaultModel;
        choice.ask = !given.hasModel ? stored < 0 : true;
        return true;
    }
    choice.model = kDefaultModel;
    if (given.model.empty()) return true;
    error = RefusedModel(given.model);
    if (!error.empty()) return false;
    choice.model = CClockModel::FindModel(given.model, true);
    return true;
}

std::string PortName(const CCommandLine& global, const CCommandLine& args) {
    std::string name;
    if (!FindOption(global, args, "port", name)) name = GetProfileString(ProfileKeys::COMMUNICATION, ProfileKeys::COMM_PORT, kDefaultPort);
    return name;
}

TPortChoice ChosenPort(const CCommandLine& global, const CCommandLine& args) {
    TPortChoice choice;
    choice.port = PortName(global, args);
    choice.hasModel = FindOption(global, args, "model", choice.model);
    choice.hasBaud = FindOption(global, args, "baud", choice.baud);
    return choice;
}

int SetGivenBaud(const char* command, const TPortChoice& given, CPortSession& session) {
    if (!given.hasBaud) return CTL_DONE;
    if (const std::string refused = RefusedBaud(given.baud); !refused.empty()) return ReportUsage(command, refused);
    CPortSettings settings;
    settings.SetBaud(given.baud);
    return session.Port().ApplySettings(settings) ? CTL_DONE : CTL_FAILED;
}

// Model and port as chosen, then the session. CTL_DONE when open.
// model: the one to use, or -1 for the chosen one, else the stored one, else
// the one the clock says.
int OpenSession(const char* command, const TPortChoice& given, CPortSession& session, int model = -1) {
    TModelChoice choice;
    if (model >= 0) {
        choice.model = model;
    } else if (std::string error; !ResolveModel(given, choice, error)) {
        return ReportUsage(command, error);
    }
    if (!session.Open(given.port, choice.model)) return CTL_FAILED;
    if (const int rc = SetGivenBaud(command, given, session); rc != CTL_DONE) return rc;
    // Asked at the session's own rate, as the commands will be sent.
    if (choice.ask) {
        TProbeTimes times;
        times.breakFirst = false;
        const int told = AskClockModel(session.Port(), times);
        if (told >= 0) session.State().SetModel(told);
        // Asked for by name: what came of it is said.
        std::string name;
        if (given.hasModel && session.State().GetModelName(name))
            ReportError(told >= 0 ? "the clock says it is a " + name
                                  : "the clock did not say its model: taken to be " + name + " (--model to choose)");
    }
    return CTL_DONE;
}

int OpenSession(const char* command, const CCommandLine& global, const CCommandLine& args, CPortSession& session,
                int model = -1) {
    return OpenSession(command, ChosenPort(global, args), session, model);
}

bool IsShown(unsigned char c) { return (c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n'; }

int RunRead(const CCommandLine& global, const CCommandLine& args) {
    const std::string out = args.GetValue("output");
    if (out.empty() || !args.GetArgs().empty()) return ReportUsage("read", GetString(IDS_CTL_READ_NEEDS_OUTPUT));
    CPortSession session;
    if (const int rc = OpenSession("read", global, args, session); rc != CTL_DONE) return rc;
    if (const TClockResult read = session.State().Read(session.Port(), true); !read)
        return ReportClockFailure("read", args.Has("json"),
                                  "reading the setup from the clock failed: " + GetString(IDS_READ_FAILED), read);
    try {
        SaveConfigFile(session.State(), out);
    } catch (const CFileError& e) {
        ReportError(GetString(IDS_ERROR_SAVING_FILE) + " " + e.GetPath() + ": " + e.GetReason());
        return CTL_FAILED;
    }
    if (args.Has("json")) {
        nlohmann::ordered_json doc = JsonDocument("read");
        doc["port"] = PortName(global, args);
        std::string model;
        if (session.State().GetModelName(model)) doc["model"] = model;
        doc["file"] = out;
        doc["items"] = AllItemsJson(*session.State().GetConfig());
        return WriteJson(doc) ? CTL_DONE : CTL_FAILED;
    }
    return CTL_DONE;
}

int RunWrite(const CCommandLine& global, const CCommandLine& args) {
    long seconds = 0;
    if (const int rc = ParseCountdown("write", args, seconds); rc != CTL_DONE) return rc;

    // The file first: a bad one never gets near the clock.
    CClockState loaded;
    if (!LoadOrReport(loaded, args.GetArgs()[0])) return CTL_FAILED;

    return WriteSetupToClock("write", global, args, *loaded.GetConfig(), seconds, std::string());
}

}  // namespace

std::string CtlPortName(const CCommandLine& global, const CCommandLine& args) { return PortName(global, args); }

bool ParseCount(const std::string& text, long max, long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return value <= max;
}

int ParseCountdown(const char* command, const CCommandLine& args, long& seconds) {
    seconds = CCtlClockUi::DEFAULT_COUNTDOWN_SECONDS;
    if (args.Has("countdown") && !ParseCount(args.GetValue("countdown"), 3600, seconds))
        return ReportUsage(command, "--countdown takes whole seconds from 0 to 3600");
    return CTL_DONE;
}

const char* StopName() {
    const int signal = CPortSession::StopSignal();
    return signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "Ctrl-C (SIGINT)";
}

int WriteSetupToClock(const char* command, const CCommandLine& global, const CCommandLine& args,
                      const TClockConfig& record, long countdownSeconds, const std::string& modelHint,
                      const TClockConfig* held) {
    // What was read from this clock moments before stands for reading it again.
    std::optional<TClockConfig> clockRead;
    if (held) clockRead = *held;
    if (!held && args.Has("clock-read")) {
        CClockState read;
        if (!LoadOrReport(read, args.GetValue("clock-read"))) return CTL_FAILED;
        clockRead = *read.GetConfig();
    }
    // From here on a stop ends the write after its current step.
    struct TStopGuard {
        TStopGuard() { CPortSession::StopAfterStep(true); }
        ~TStopGuard() { CPortSession::StopAfterStep(false); }
    } stopGuard;
    CPortSession session;
    std::string unused;
    const int hinted = modelHint.empty() || FindOption(global, args, "model", unused) ? -1
                                                                                       : CClockModel::FindModel(modelHint, true);
    if (const int rc = OpenSession(command, global, args, session, hinted); rc != CTL_DONE) return rc;
    // The clock's own setup is kept first, so the write can be undone; a
    // clock that holds the setup already is left alone.
    TPreWriteResult pre;
    pre.outcome = TPreWrite::Proceed;
    if (!args.Has("no-backup")) {
        if (!clockRead) ShowWriteStage(GetString(IDS_READING_FOR_BACKUP));
        CSetupBackups backups;
        pre = PrepareWrite(session.State(), session.Port(), PortName(global, args), record, args.Has("force"), backups,
                           clockRead ? &*clockRead : nullptr);
    } else if (clockRead && !args.Has("force") && std::memcmp(&*clockRead, &record, sizeof record) == 0) {
        pre.outcome = TPreWrite::AlreadyHeld;
    }
    switch (pre.outcome) {
    case TPreWrite::AlreadyHeld:
        std::printf("%s\n", GetString(IDS_CLOCK_HOLDS_SETUP).c_str());
        return FinishStdout();
    case TPreWrite::ReadFailed:
        ReportError(GetString(IDS_BACKUP_READ_FAILED) + " (--no-backup writes without one)");
        if (!pre.readFailure.Reason().empty()) ReportError(pre.readFailure.Reason());
        return CTL_FAILED;
    case TPreWrite::KeepFailed:
        ReportError(FormatString(GetString(IDS_BACKUP_SAVE_FAILED).c_str(), pre.reason.c_str()));
        return CTL_FAILED;
    case TPreWrite::Proceed:
        if (!pre.backupPath.empty()) {
            const std::string kept = VisibleText(pre.backupPath);
            std::printf("%s\n", FormatString(GetString(IDS_BACKUP_KEPT).c_str(), kept.c_str()).c_str());
            std::fflush(stdout);
        }
        break;
    }
    auto saySignal = [] {
        if (CPortSession::StopSignal() != 0) ReportError(FormatString(GetString(IDS_CTL_STOPPED_BY).c_str(), StopName()));
    };
    if (CPortSession::StopSignal() != 0) {
        saySignal();
        ReportError(GetString(IDS_WRITE_CANCELLED_NOTHING_SENT));
        return CTL_FAILED;
    }
    *session.State().GetConfig() = record;
    session.Ui().SetCountdownSeconds(static_cast<int>(countdownSeconds));
    ShowWriteStage(GetString(IDS_CTL_STAGE_SENDING));
    const TWriteResult result = session.State().Write(session.Port());
    if (const unsigned cancelled = CancelledWriteText(result)) {
        saySignal();
        ReportError(GetString(cancelled));
        return CTL_FAILED;
    }
    if (result != TWriteResult::Written)
        return ReportClockFailure(command, false, "writing the setup to the clock failed: " + GetString(IDS_WRITE_FAILED),
                                  session.State().GetWriteFailure());
    // The result is said even when quiet.
    std::fprintf(stderr, "%s\n", GetString(IDS_CTL_WRITE_DONE).c_str());
    std::fflush(stderr);
    return CTL_DONE;
}

namespace {

int RunSend(const CCommandLine& global, const CCommandLine& args) {
    long waitMs = 1000;
    if (args.Has("wait") && !ParseCount(args.GetValue("wait"), 600000, waitMs))
        return ReportUsage("send", "--wait takes milliseconds from 0 to 600000");
    std::string text = args.GetArgs()[0];
    if (text.empty()) return ReportUsage("send", "nothing to send");
    if (text.size() > kMaxSendLength) text.resize(kMaxSendLength);

    CPortSession session;
    if (const int rc = OpenSession("send", global, args, session); rc != CTL_DONE) return rc;
    if (!session.Port().Write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()))) {
        ReportError("writing to the port failed");
        return CTL_FAILED;
    }

    // Show what comes back, as the Console page would, until the wait is over.
    constexpr unsigned kPollMs = 20;
    char last = '\n';
    for (long waited = 0;; waited += kPollMs) {
        unsigned char buf[256];
        unsigned count = sizeof buf;
        if (!session.Port().Read(buf, count)) {
            ReportError("reading from the port failed");
            return CTL_FAILED;
        }
        std::string shown;
        for (unsigned i = 0; i < count; ++i)
            if (IsShown(buf[i])) shown += static_cast<char>(buf[i]);
        if (!shown.empty()) {
            std::fwrite(shown.data(), 1, shown.size(), stdout);
            std::fflush(stdout);
            last = shown.back();
        }
        if (waited >= waitMs) break;
        SleepMs(static_cast<unsigned>(std::min<long>(kPollMs, waitMs - waited)));
    }
    if (last != '\n') std::fputc('\n', stdout);
    return FinishStdout();
}

}  // namespace

int OpenCommandSession(const char* command, const CCommandLine& global, const CCommandLine& args,
                       CPortSession& session, std::string* portName) {
    if (portName) *portName = PortName(global, args);
    return OpenSession(command, global, args, session);
}

int OpenChosenSession(const char* command, const TPortChoice& choice, CPortSession& session) {
    return OpenSession(command, choice, session);
}

std::string RefusedModel(const std::string& model) {
    if (EqualNoCase(model, kAskModel) || CClockModel::FindModel(model, true) >= 0) return std::string();
    return "unknown model '" + model + "' (one of " + ModelRange() + ", or " + kAskModel + ")";
}

std::string RefusedBaud(const std::string& baud) {
    // Only the rates of the Comm Port page: the clock knows no others.
    std::vector<std::string> rates;
    CPortSettings::ListBauds(rates);
    if (std::find(rates.begin(), rates.end(), baud) != rates.end()) return std::string();
    std::string choices;
    for (const auto& rate : rates) choices += (choices.empty() ? "" : ", ") + rate;
    return "--baud " + baud + " is not one of " + choices;
}

std::vector<TCtlOption> WriteOptions() {
    return {{"countdown", 0, "N", "seconds of each countdown (default 10)"},
            {"no-backup", 0, nullptr, "write without reading and keeping the clock's setup first"},
            {"force", 0, nullptr, "write even when the clock holds this setup already"}};
}

void AddPortOptions(std::vector<TCtlOption>& options) {
    options.push_back(kPortOption);
    options.push_back(kModelOption);
    options.push_back(kBaudOption);
    options.push_back(kTraceOption);
}

namespace {

std::vector<TCtlOption> WithClockRead(std::vector<TCtlOption> options) {
    options.push_back({"clock-read", 0, "READ", "the clock's setup as read moments before: not read again"});
    return options;
}

}  // namespace

void AddPortCommands(std::vector<TCtlCommand>& table) {
    table.push_back({"read", "-o FILE", "Read the clock's setup into a setup file.",
                     "Has the clock load its stored setup, then reads and checks it (about 3 s with\n"
                     "the default CharDelay of 100 ms). FILE is replaced only once the whole setup\n"
                     "was read.\n",
                     WithPortOptions({{"output", 'o', "FILE", "the setup file to write"},
                                      {"json", 0, nullptr, "also print what was read as JSON (see docs/json.md)"}}),
                     0, 1, RunRead});
    table.push_back({"write", "FILE", "Write a setup file into the clock, verify it, store it, reset.",
                     "Each step is named on stderr as it begins (-q: only the result). Before\n"
                     "verifying, storing and resetting the clock a countdown runs while the clock\n"
                     "works. Ctrl-C, SIGTERM or SIGHUP ends the write after its current step: the\n"
                     "later steps are left out, stderr says which, and the exit status is 1.\n"
                     "First the clock's stored setup is read and kept as a backup (see backups,\n"
                     "restore), and stdout says where; a clock that holds FILE's setup already is\n"
                     "left alone and stdout says so. A failed read sends nothing. With --clock-read\n"
                     "READ, a setup file `tarvelctl read` wrote from this clock moments before,\n"
                     "READ stands for the clock's setup in both and the clock is not read again.\n",
                     WithPortOptions(WithClockRead(WriteOptions())), 1, 1, RunWrite});
    table.push_back({"time", "get|set|watch", "Print the clock's UTC time, set it from this PC's local time, or watch its offset.",
                     "get prints the clock's reply: day of year, hours, minutes and seconds.\n"
                     "watch asks it about once a second for --for seconds, timed where its second\n"
                     "should turn, and prints each reply with the offset (clock minus PC) and its\n"
                     "uncertainty. Ctrl-C ends it: exit status 0 once the clock told its time.\n"
                     "A clock that answers '?' refused the command: exit status 1.\n",
                     WithPortOptions({{"json", 0, nullptr, "print the time as JSON, time watch one object a line (see docs/json.md)"},
                                      {"for", 0, "SECONDS", "how long time watch polls (default 60)"}}),
                     1, 1, RunTimeCommand});
    table.push_back({"send", "TEXT", "Send TEXT to the clock and print what comes back.",
                     "TEXT goes out as the Console page sends a line: without a line ending, at most\n"
                     "79 characters. Only printable characters, CR and LF of the answer are shown.\n",
                     WithPortOptions({{"wait", 0, "MS", "how long to show the answer (default 1000)"}}), 1, 1,
                     RunSend});
}
