#include "ClockCheck.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ClockModel.h"
#include "ClockProbe.h"
#include "ClockState.h"
#include "CommandLine.h"
#include "CtlCommand.h"
#include "OffsetPoll.h"
#include "PortCatalogue.h"
#include "PortHolder.h"
#include "PortSession.h"
#include "Resource.h"
#include "SetupDiff.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

constexpr char kStableFolder[] = "/dev/serial/by-id/";

// The name that stays when the adapter moves to another socket.
std::string StableName(const std::string& port) {
    const std::string open = CPortCatalogue::OpenName(port);
    if (open.rfind(kStableFolder, 0) == 0) return open;
    const std::string path = CPortCatalogue::DevicePath(open);
    for (const auto& entry : CPortCatalogue::ListEntries())
        if (!entry.stableName.empty() && (entry.name == port || entry.name == path)) return entry.stableName;
    return port;
}

// "ModemManager (pid 812)", several joined by ", "; empty when none is known.
std::string Holders(const std::string& port) {
    std::string who;
    for (const auto& holder : CPortHolder::Find(CPortCatalogue::DevicePath(CPortCatalogue::OpenName(port))))
        who += (who.empty() ? "" : ", ") +
               FormatString(GetString(IDS_PORT_HOLDER).c_str(), holder.name.c_str(), holder.pid);
    return who;
}

// The ROM date line of a clock whose model tells one (the probe's question);
// empty otherwise or when it did not come.
std::string AskRomDate(CClockState& state, CCommPort& port) {
    std::string rom;
    if (const TClockModelRow* row = CClockModel::Row(state.GetModel()); row && row->answersVersion)
        AskClockModel(port, TProbeTimes(), &rom);
    return rom;
}

}  // namespace

TClockHealth CheckClock(const TClockCheckOptions& options) {
    TClockHealth health;
    health.port = options.port;
    health.stableName = StableName(options.port);
    auto finish = [&health] {
        health.checkedAt = HostSeconds();
        return health;
    };
    if (!options.model.empty() && !EqualNoCase(options.model, "auto") && CClockModel::FindModel(options.model, true) < 0) {
        health.refused = true;
        health.reason = "unknown model '" + options.model + "'";
        return finish();
    }

    // The port and model are chosen as every port command chooses them.
    std::vector<std::string> given = {"--port", options.port};
    if (!options.model.empty()) given.insert(given.end(), {"--model", options.model});
    if (!options.baud.empty()) given.insert(given.end(), {"--baud", options.baud});
    std::vector<TCtlOption> known;
    AddPortOptions(known);
    CCommandLine args;
    std::string error;
    if (!args.Parse(given, known, false, error)) {
        health.refused = true;
        health.reason = error;
        return finish();
    }
    CPortSession session;
    const int opened = OpenCommandSession(options.command.c_str(), CCommandLine(), args, session);
    std::string model;
    if (session.State().GetModelName(model)) health.model = model;
    // A usage error's status is the command's own (2, or a plugin's 3).
    if (opened != CTL_DONE && opened != CTL_FAILED) {
        health.refused = true;
        health.reason = "--baud " + options.baud + " is not a rate of this port";
        return finish();
    }
    if (opened != CTL_DONE) {
        const std::string failure = session.Port().GetOpenFailure();
        health.busy = failure.find(std::strerror(EBUSY)) != std::string::npos;
        if (health.busy) health.holder = Holders(options.port);
        health.reason = failure.empty() ? "the port could not be opened" : failure;
        return finish();
    }

    health.rom = AskRomDate(session.State(), session.Port());
    COffsetPoller poller;
    const TClockResult polled = poller.PollUntil(session.State(), session.Port(), options.goalUncertainty,
                                                 HostSeconds() + options.forSeconds);
    const COffsetEstimator& estimate = poller.Estimate();
    health.polls = static_cast<int>(estimate.Polls());
    if (health.polls > 0) {
        health.offset = estimate.Offset();
        health.uncertainty = estimate.Uncertainty();
    }
    // A clock that stopped answering half way is not up either.
    health.up = static_cast<bool>(polled);
    if (!polled) {
        health.reason = polled.Reason();
        return finish();
    }

    if (options.hasSetup) {
        const TClockResult read = session.State().Read(session.Port(), true);
        if (!read) {
            health.up = false;
            health.reason = read.Reason();
            return finish();
        }
        health.setupChecked = true;
        for (const auto& item : DiffSetups(options.setup, *session.State().GetConfig()).items)
            health.differences.push_back({item.item, item.name});
    }
    return finish();
}
