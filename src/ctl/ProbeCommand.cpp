// tarvelctl probe: which port a clock is on, and at what rate.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ClockModel.h"
#include "ClockProbe.h"
#include "CtlCommand.h"
#include "CtlJson.h"
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

// "-" for a field that is empty, as in the port list; what the clock or the
// port's name holds shown, never acted on by the terminal.
std::string Field(const std::string& text) { return text.empty() ? std::string("-") : VisibleText(text); }

int RunProbe(const CCommandLine& global, const CCommandLine& args) {
    std::vector<std::string> ports = global.GetValues("port");
    for (const auto& port : args.GetValues("port")) ports.push_back(port);
    const bool named = !ports.empty();
    if (!named) ports = CClockProbe::ListedPorts();
    if (ports.empty()) {
        ReportError(GetString(IDS_CTL_PROBE_NO_PORTS));
        return CTL_FAILED;
    }

    CClockProbe probe;
    const std::vector<TProbeFound> found = probe.Run(ports);
    const bool json = args.Has("json");
    if (!json)
        for (const auto& clock : found) {
            std::printf("%s\t%u\t%s\t%s", Field(clock.port).c_str(), clock.rate, Field(clock.model).c_str(),
                        Field(clock.rom).c_str());
            // A network port's line says how far away the clock is.
            if (clock.network) std::printf("\t%u", clock.roundTripMs);
            std::printf("\n");
        }
    // A port that could not even be opened may be the one the clock is on.
    for (const auto& failure : probe.PortFailures()) ReportError(failure);
    if (found.empty()) {
        std::string tried;
        for (const auto& port : ports) tried += (tried.empty() ? "" : ", ") + port;
        ReportError(FormatString(GetString(IDS_CTL_PROBE_NONE).c_str(), tried.c_str()));
        return CTL_FAILED;
    }
    if (json) {
        nlohmann::ordered_json doc = JsonDocument("probe");
        doc["clocks"] = nlohmann::ordered_json::array();
        auto orNull = [](const std::string& s) { return s.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s); };
        for (const auto& clock : found)
            doc["clocks"].push_back({{"port", clock.port},
                                     {"baud", clock.rate},
                                     {"model", orNull(clock.model)},
                                     {"rom", orNull(clock.rom)},
                                     {"round_trip_ms", clock.network ? nlohmann::ordered_json(clock.roundTripMs)
                                                                     : nlohmann::ordered_json(nullptr)}});
        return WriteJson(doc) ? CTL_DONE : CTL_FAILED;
    }
    return FinishStdout();
}

// The model the probe can name: the one the model table marks as answering "v".
std::string ProbeDetails() {
    const TClockModelRow* told = CClockModel::Row(CClockModel::VersionAnsweringModel());
    return std::string("Tries each present port of the port list (or each --port given; the simulated\n"
                       "clock SIM only when named) at 9600 baud, then 19200 up to 115200, then 4800\n"
                       "down to 1200, 8N1: a break, then \"v\", which only asks for the clock's ROM\n"
                       "date and changes nothing. The ports are tried at once; each rate takes at\n"
                       "most about 0.8 s (1.2 s where a clock answers), 0.5 s of it the pause a\n"
                       "clock is given after a break; on a network port the waits grow by its\n"
                       "round trip and a second. One line per clock found,\n"
                       "tab-separated: port, baud rate, model (\"-\" when the clock did not say; only the ") +
           (told ? told->name : "none") +
           "\n"
           "answers with its ROM date), ROM date or \"-\", and for a network port\n"
           "(rfc2217:// or tcp://) its round trip in ms. A port that cannot be opened\n"
           "is said on stderr.\n"
           "Exit status: 0 a clock was found, 1 none was, 2 usage error.\n";
}
const std::string kProbeDetails = ProbeDetails();

}  // namespace

void AddProbeCommand(std::vector<TCtlCommand>& table) {
    TCtlCommand probe{"probe", "[--port DEV]...", "Find the clocks: the port and baud rate each answers on.",
                      kProbeDetails.c_str(),
                      {{"port", 0, "DEV", "a port to try; may be given several times"},
                       {"json", 0, nullptr, "print the clocks found as JSON (see docs/json.md)"}},
                      0, 0, RunProbe};
    probe.ports = TPortUse::Own;
    table.push_back(probe);
}
