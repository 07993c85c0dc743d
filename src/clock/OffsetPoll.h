// Polls a clock's time for the offset estimator, each poll sent so that the
// clock takes it where the estimator aims.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ClockOffset.h"
#include "ClockResult.h"
#include "OffsetEstimator.h"

class CClockState;
class CCommPort;

// The DAY:H:M:S reply to the time command; nothing when it is not one.
std::optional<TClockUtcFields> ParseTimeReply(const std::string& reply);

// The host's time in seconds since the epoch.
double HostSeconds();

class COffsetPoller {
public:
    explicit COffsetPoller(double driftPpm = COffsetEstimator::kDefaultDriftPpm) : m_estimator(driftPpm) {}

    // Waits until the moment the estimator aims at (in the process-wide
    // sleep, never past notAfter), asks the clock for its time and learns
    // from the reply. The reply's text is left in reply.
    TClockResult Poll(CClockState& state, CCommPort& port, std::string& reply, double notAfter = 0);
    // Polls until the uncertainty is at most goal or the next poll would
    // start after deadline (host seconds); after each poll, more(result,
    // reply) may end it early by giving false. A failed poll ends it and is
    // given back; else the last poll's result.
    TClockResult PollUntil(CClockState& state, CCommPort& port, double goal, double deadline,
                           const std::function<bool(const TClockResult&, const std::string&)>& more = {});

    // When (host seconds, not before notBefore) to start the next poll so
    // that the clock takes it where the estimator aims; a caller that waits
    // elsewhere starts Poll then.
    double NextStart(double notBefore) const;

    const COffsetEstimator& Estimate() const { return m_estimator; }
    void Clear() { m_estimator.Clear(); }
    // The clock's time as last told, and the host's time it was told at.
    std::optional<TClockUtcFields> LastTold() const { return m_told; }

private:
    COffsetEstimator m_estimator;
    // From starting a command to its last byte, and from there to its echo
    // read, as the last poll took them.
    double m_lead = 0;
    double m_spread = 0;
    std::optional<TClockUtcFields> m_told;
};
