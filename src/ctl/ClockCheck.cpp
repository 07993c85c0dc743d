#include "ClockCheck.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ClockModel.h"
#include "ClockProbe.h"
#include "ClockState.h"
#include "CtlCommand.h"
#include "LineWait.h"
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
// The ROM date line and what may come around it.
constexpr std::size_t kRomReplyChars = 64;

std::string AskRomDate(CClockState& state, CCommPort& port) {
    std::string rom;
    // Not a probe: the clock is known to be there, so its echo and answer
    // are given a command's whole bounds. An echo taken for lost and come
    // later would be read as the echo of the first time poll.
    TProbeTimes times;
    times.echoWaitMs = LineWait::EchoBoundMs(port, LineWait::CharDelayMs());
    times.replyWaitMs = LineWait::AnswerBoundMs(port, times.replyWaitMs, kRomReplyChars);
    times.breakFirst = false;
    if (const TClockModelRow* row = CClockModel::Row(state.GetModel()); row && row->answersVersion)
        AskClockModel(port, times, &rom);
    return rom;
}

}  // namespace

TClockHealth CheckClock(const TClockCheckOptions& options) {
    TClockHealth health;
    health.port = options.port;
    auto finish = [&health] {
        health.checkedAt = HostSeconds();
        return health;
    };
    auto refuse = [&](const std::string& reason) {
        health.refused = true;
        health.reason = reason;
        return finish();
    };
    if (options.port.empty()) return refuse("no port to check: give --port DEV");
    health.stableName = StableName(options.port);
    if (!options.model.empty())
        if (const std::string refused = RefusedModel(options.model); !refused.empty()) return refuse(refused);
    if (!options.baud.empty())
        if (const std::string refused = RefusedBaud(options.baud); !refused.empty()) return refuse(refused);

    // The port and model are chosen as every port command chooses them.
    TPortChoice choice;
    choice.port = options.port;
    choice.hasModel = !options.model.empty();
    choice.model = options.model;
    choice.hasBaud = !options.baud.empty();
    choice.baud = options.baud;
    CPortSession session;
    const int opened = OpenChosenSession(options.command.c_str(), choice, session);
    std::string model;
    if (session.State().GetModelName(model)) health.model = model;
    if (opened != CTL_DONE) {
        const std::string failure = session.OpenFailure();
        health.busy = session.OpenErrorCode() == EBUSY;
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

std::vector<TClockHealth> CheckClocks(const std::vector<TClockCheckOptions>& looks, std::size_t atOnce) {
    std::vector<TClockHealth> results(looks.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < looks.size();) results[i] = CheckClock(looks[i]);
    };
    std::vector<std::thread> threads;
    const std::size_t count = std::min(looks.size(), std::max<std::size_t>(atOnce, 1));
    for (std::size_t t = 1; t < count; ++t) threads.emplace_back(work);
    work();
    for (auto& thread : threads) thread.join();
    return results;
}

bool ParseForSeconds(const std::string& text, double most, double& seconds) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    // Digits only, as a person writes seconds: no hex, no infinity, no blanks.
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos || errno != 0 ||
        end != text.c_str() + text.size() || !std::isfinite(value) || value <= 0 || value > most)
        return false;
    seconds = value;
    return true;
}

std::string ForSecondsRule(double most) {
    return "--for takes seconds, more than 0 and at most " + std::to_string(static_cast<long>(most));
}
