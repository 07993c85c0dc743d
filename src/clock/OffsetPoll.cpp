#include "OffsetPoll.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "ClockModel.h"
#include "ClockState.h"
#include "LineWait.h"
#include "TextUtil.h"

std::optional<TClockUtcFields> ParseTimeReply(const std::string& reply) {
    TClockUtcFields utc;
    int used = 0;
    if (std::sscanf(reply.c_str(), "%d:%d:%d:%d%n", &utc.dayOfYear, &utc.hour, &utc.minute, &utc.second, &used) != 4 ||
        used != static_cast<int>(reply.size()))
        return std::nullopt;
    return utc;
}

double HostSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double COffsetPoller::NextStart(double notBefore) const {
    if (!m_estimator.HasEstimate()) return notBefore;
    const double middle = m_lead + m_spread / 2;
    return m_estimator.NextTakeAt(notBefore + middle) - middle;
}

namespace {

// What hides an edge kept in whole milliseconds; and, for edges kept in
// microseconds, what reading the two clocks one after the other may hide.
constexpr double kGrainSeconds = 0.001;
constexpr double kFineGrainSeconds = 0.00005;

}  // namespace

TClockResult COffsetPoller::Poll(CClockState& state, CCommPort& port, std::string& reply, double notAfter) {
    // Host seconds and NowMs side by side, to put the port's times on the host's scale.
    const double hostNow = HostSeconds();
    const long long steadyNow = NowMs();
    // The host's clock read between two looks at the monotonic one; a
    // thread put aside between them would shift every edge, so the closest
    // pair of a few is kept and the gap widens the edges.
    double hostBeside = hostNow;
    long long steadyNowUs = 0, gapUs = -1;
    for (int i = 0; i < 5 && (gapUs < 0 || gapUs > 20); ++i) {
        const long long before = LineWait::NowUs();
        const double host = HostSeconds();
        const long long after = LineWait::NowUs();
        if (gapUs < 0 || after - before < gapUs) {
            gapUs = after - before;
            hostBeside = host;
            steadyNowUs = before + gapUs / 2;
        }
    }
    const double fineGrain = kFineGrainSeconds + static_cast<double>(gapUs) / 2e6;
    auto onHost = [&](long long ms) { return hostNow + static_cast<double>(ms - steadyNow) / 1000.0; };
    auto onHostUs = [&](long long us) { return hostBeside + static_cast<double>(us - steadyNowUs) / 1e6; };

    if (m_estimator.HasEstimate()) {
        double start = NextStart(hostNow);
        if (notAfter > 0) start = std::min(start, notAfter);
        LineWait::SleepUntil(steadyNow + static_cast<long long>((start - hostNow) * 1000.0));
    }
    const long long started = NowMs();
    const TClockResult asked = state.AskTime(port, reply);
    if (!asked) return asked;
    const std::optional<TClockUtcFields> told = ParseTimeReply(reply);
    // NowMs counts whole milliseconds, and putting it on the host's scale
    // costs up to one more: each edge is widened by what that may hide.
    // Edges the writer timed to the microsecond narrow it further.
    const bool fine = asked.lastByteFromUs > 0 && asked.echoedUs >= asked.lastByteFromUs;
    const long long from = asked.lastByteFromMs > 0 ? asked.lastByteFromMs : asked.lastByteMs;
    const double earliest = fine ? onHostUs(asked.lastByteFromUs) - fineGrain : onHost(from) - kGrainSeconds;
    const double latest = fine ? onHostUs(asked.echoedUs) + fineGrain : onHost(asked.echoedMs) + 2 * kGrainSeconds;
    using namespace std::chrono;
    const THostTime at{milliseconds(static_cast<long long>(earliest * 1000.0))};
    const std::optional<milliseconds> offset = told ? ClockOffset(*told, at) : std::nullopt;
    if (!offset || asked.lastByteMs <= 0 || asked.echoedMs < asked.lastByteMs) {
        TClockResult bad = TClockResult::Fail(TClockFailure::NotATime);
        CClockModel model;
        model.SetModel(state.GetModel());
        model.FormatCommand(bad.command, GET_UTC_TIME);
        bad.detail = reply;
        return bad;
    }
    m_told = told;
    m_lead = static_cast<double>(asked.lastByteMs - started) / 1000.0;
    m_spread = latest - earliest;
    const double exactAt = static_cast<double>(at.time_since_epoch().count()) / 1000.0;
    m_estimator.Add({earliest, latest, exactAt + static_cast<double>(offset->count()) / 1000.0});
    return asked;
}

TClockResult COffsetPoller::PollUntil(CClockState& state, CCommPort& port, double goal, double deadline,
                                      const std::function<bool(const TClockResult&, const std::string&)>& more) {
    TClockResult result;
    for (;;) {
        std::string reply;
        result = Poll(state, port, reply, deadline);
        if (!result) return result;
        if (more && !more(result, reply)) return result;
        if (m_estimator.Uncertainty() <= goal || HostSeconds() + m_lead >= deadline) return result;
    }
}
