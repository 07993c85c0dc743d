// tarvel-clocksim: a simulated clock on a pseudo-terminal or raw TCP, for
// learning tarvel without hardware. Prints the port to open, then serves it
// until SIGINT or SIGTERM.
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "ClockUi.h"
#include "SimClock.h"
#include "TarvelVersion.h"

namespace {

const char USAGE[] =
    "Usage: tarvel-clocksim [options]\n"
    "Serves a simulated Halvern clock on a pseudo-terminal. The first line of\n"
    "output is the device to open; SIGINT or SIGTERM ends the clock.\n"
    "\n"
    "  --listen HOST:PORT  serve on raw TCP instead, one client at a time; the\n"
    "                      first line of output is then the port name to open,\n"
    "                      tcp://HOST:PORT (port 0 picks a free port)\n"
    "  --eeprom FILE       start from the setup in FILE (a .hcs setup file)\n"
    "  --save FILE         keep the EEPROM setup in FILE: after every store\n"
    "                      into EEPROM and at exit\n"
    "  --verbose           log every command received on standard error\n"
    "  --offset SECONDS    run SECONDS ahead of this computer's clock (negative:\n"
    "                      behind; fractions too, e.g. -2.37); default 0\n"
    "  --drift PPM         gain PPM millionths of a second per second on this\n"
    "                      computer's clock (negative: lose); default 0\n"
    "  --list WHAT         print what the clock understands and exit: its\n"
    "                      models (NAME<TAB>MODELTEXT) or its commands\n"
    "  --help              show this text\n"
    "  --version           show the version\n"
    "Faults:\n"
    "  --no-echo           do not echo command bytes\n"
    "  --wrong-echo        echo a different byte\n"
    "  --drop-echo N       lose the echo of every Nth command byte\n"
    "  --question          answer every command with '?'\n"
    "  --bad-digit         change a data digit of the records sent\n"
    "  --old-rom           answer \"v\" with the old ROM date\n"
    "  --slow MS           wait MS milliseconds before each reply\n"
    "  --differ-after-write  change one byte of a setup received\n"
    "  --noise             add stray bytes before replies and between records\n"
    "  --noise-seed N      seed of the stray bytes (default 1)\n"
    "  --pace              send at the baud rate the device is set to\n"
    "  --baud N            hear the line only while it is set to N baud, as a\n"
    "                      clock set to N hears nothing but noise at other rates\n"
    "  --strict            hear the line only at the clock's own rate: the main\n"
    "                      port's baud rate in its setup (item 3), which a write\n"
    "                      changes at the reset that ends it\n"
    "\n"
    "The clock keeps its time exactly and answers \"TU\" with the whole second it\n"
    "is in when it takes the command's last byte, as a clock does.\n"
    "\n"
    "Exit status: 0 when ended by a signal, 1 when the clock could not start or\n"
    "its setup could not be read or saved, 2 for a usage error.\n";

struct TOptions {
    std::string listenHost;  // empty: a pseudo-terminal
    std::uint16_t listenPort = 0;
    std::string eepromFile;
    std::string saveFile;
    bool verbose = false;
    double offsetSeconds = 0;
    double driftPpm = 0;
    bool help = false;
    bool version = false;
    std::string list;  // "models", "commands"; empty: serve
    TSimFaults faults;
};

bool ParseNumber(const char* text, long low, long high, long& value) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

bool ParseDecimal(const char* text, double limit, double& value) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || std::fabs(v) > limit) return false;
    value = v;
    return true;
}

// "HOST:PORT", "[IPv6]:PORT"; the host may not be left out, so serving on
// every interface is always asked for by name (0.0.0.0, [::]).
bool ParseListen(const std::string& text, std::string& host, std::uint16_t& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;
    }
    long value = 0;
    if (!ParseNumber(text.c_str() + colon + 1, 0, 65535, value)) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// False (with a message) on a usage error.
bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&](const char* what) {
            if (next) return true;
            std::fprintf(stderr, "tarvel-clocksim: %s needs %s\n", arg.c_str(), what);
            return false;
        };
        auto number = [&](long low, long high, long& value) {
            if (!needValue("a number")) return false;
            if (!ParseNumber(next, low, high, value)) {
                std::fprintf(stderr, "tarvel-clocksim: %s: not a number from %ld to %ld: %s\n",
                             arg.c_str(), low, high, next);
                return false;
            }
            ++i;
            return true;
        };
        long value = 0;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--list") {
            if (!needValue("models or commands")) return false;
            options.list = argv[++i];
            if (options.list != "models" && options.list != "commands") {
                std::fprintf(stderr, "tarvel-clocksim: --list: not models or commands: %s\n", next);
                return false;
            }
        } else if (arg == "--listen") {
            if (!needValue("HOST:PORT")) return false;
            if (!ParseListen(next, options.listenHost, options.listenPort)) {
                std::fprintf(stderr, "tarvel-clocksim: --listen: not HOST:PORT (port 0 to 65535): %s\n", next);
                return false;
            }
            ++i;
        } else if (arg == "--eeprom") {
            if (!needValue("a file")) return false;
            options.eepromFile = argv[++i];
        } else if (arg == "--save") {
            if (!needValue("a file")) return false;
            options.saveFile = argv[++i];
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--offset" || arg == "--drift") {
            // A year either way, and a clock a hundred times worse than a free-running crystal.
            const double limit = arg == "--offset" ? 366.0 * 86400 : 10000;
            if (!needValue("a number")) return false;
            if (!ParseDecimal(next, limit, arg == "--offset" ? options.offsetSeconds : options.driftPpm)) {
                std::fprintf(stderr, "tarvel-clocksim: %s: not a number from -%.0f to %.0f: %s\n", arg.c_str(), limit,
                             limit, next);
                return false;
            }
            ++i;
        } else if (arg == "--no-echo") {
            options.faults.noEcho = true;
        } else if (arg == "--wrong-echo") {
            options.faults.wrongEcho = true;
        } else if (arg == "--drop-echo") {
            if (!number(1, INT_MAX, value)) return false;
            options.faults.dropEchoEvery = static_cast<int>(value);
        } else if (arg == "--question") {
            options.faults.answerQuestion = true;
        } else if (arg == "--bad-digit") {
            options.faults.badDigit = true;
        } else if (arg == "--old-rom") {
            options.faults.oldRom = true;
        } else if (arg == "--slow") {
            if (!number(0, 600000, value)) return false;
            options.faults.replyDelayMs = static_cast<int>(value);
        } else if (arg == "--differ-after-write") {
            options.faults.differAfterWrite = true;
        } else if (arg == "--noise") {
            options.faults.lineNoise = true;
        } else if (arg == "--noise-seed") {
            if (!number(0, UINT32_MAX, value)) return false;
            options.faults.noiseSeed = static_cast<std::uint32_t>(value);
        } else if (arg == "--baud") {
            if (!number(1, 4000000, value)) return false;
            options.faults.onlyAtRate = static_cast<std::uint32_t>(value);
        } else if (arg == "--strict") {
            options.faults.strictRate = true;
        } else if (arg == "--pace") {
            options.faults.realisticPace = true;
        } else {
            std::fprintf(stderr, "tarvel-clocksim: unknown option: %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

// The setup in a .hcs file, through the clock layer's file functions: only
// a whole file of a known revision is taken.
bool LoadSetup(const std::string& path, TClockConfig& config) {
    CClockState state;
    std::string refusal;
    CClockMessageUi ui([&](const std::string& text) { refusal = text; });
    state.SetUi(&ui);
    try {
        const TLoadResult result = LoadConfigFile(state, path);
        if (result != TLoadResult::Loaded) {
            std::fprintf(stderr, "tarvel-clocksim: %s: %s\n", path.c_str(), refusal.c_str());
            return false;
        }
    } catch (const CFileError& e) {
        std::fprintf(stderr, "tarvel-clocksim: %s: %s\n", path.c_str(), e.GetReason().c_str());
        return false;
    }
    config = *state.GetConfig();
    return true;
}

// Replaces the file only once the new one is complete.
bool SaveSetup(const std::string& path, const TClockConfig& config) {
    CClockState state;
    *state.GetConfig() = config;
    try {
        SaveConfigFile(state, path);
        return true;
    } catch (const CFileError& e) {
        std::fprintf(stderr, "tarvel-clocksim: cannot save %s: %s\n", path.c_str(), e.GetReason().c_str());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs("Try 'tarvel-clocksim --help'.\n", stderr);
        return 2;
    }
    if (options.help || options.version) {
        if (options.help)
            std::fputs(USAGE, stdout);
        else
            std::printf("tarvel-clocksim %s\n", TARVEL_VERSION_STRING);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }

    if (!options.list.empty()) {
        const std::vector<std::string> lines =
            options.list == "models" ? CSimCommandParser::ModelLines() : CSimCommandParser::CommandTexts();
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }

    CSimClock sim;
    if (!options.eepromFile.empty()) {
        TClockConfig config{};
        if (!LoadSetup(options.eepromFile, config)) return 1;
        sim.SetEeprom(config);
        sim.SetActive(config);
    }
    sim.SetFaults(options.faults);
    sim.SetTimeOffset(options.offsetSeconds);
    sim.SetDriftPpm(options.driftPpm);

    std::mutex saveMutex;
    auto save = [&](const TClockConfig& config) {
        std::lock_guard lock(saveMutex);
        return SaveSetup(options.saveFile, config);
    };
    if (!options.saveFile.empty()) sim.SetEepromStoredHandler([&](const TClockConfig& c) { save(c); });
    if (options.verbose) {
        auto say = [](const std::string& text) { std::fprintf(stderr, "tarvel-clocksim: %s\n", text.c_str()); };
        sim.SetCommandHandler(say);
        sim.SetClientHandler(say);
    }

    // The signals are taken by sigwait below; block them before any thread
    // starts so none of them is handed the signal.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!options.listenHost.empty()) {
        if (!sim.Listen(options.listenHost, options.listenPort)) {
            std::fprintf(stderr, "tarvel-clocksim: %s\n", sim.LastError().c_str());
            return 1;
        }
        std::printf("tcp://%s\n", sim.ListenAddress().c_str());
    } else if (!sim.Start()) {
        std::fprintf(stderr, "tarvel-clocksim: cannot create a pseudo-terminal: %s\n", sim.LastError().c_str());
        return 1;
    } else {
        std::printf("%s\n", sim.DevicePath().c_str());
    }
    std::fflush(stdout);

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    sim.Stop();

    // A store that failed earlier is made good here; only the final state counts.
    if (!options.saveFile.empty() && !save(sim.GetEeprom())) return 1;
    return 0;
}
