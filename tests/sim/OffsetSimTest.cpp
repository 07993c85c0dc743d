// The offset estimate against the simulated clock, whose exact offset is
// known: polled through the real port and time command, on a local line and
// behind a slow link, several clocks at once.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClockState.h"
#include "CommPort.h"
#include "DelayedLink.h"
#include "OffsetPoll.h"
#include "Profile.h"
#include "RecordingClockUi.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

struct TCase {
    double offset;  // the clock's time minus the host's, seconds
    double driftPpm;
    unsigned roundTripMs;
};

// What one clock's polls showed; written by its own thread only.
struct TOutcome {
    std::string failure;    // a failed poll's reason, or why the test could not run
    std::vector<std::string> outside;  // polls whose claim left the truth out
    int polls = 0;
    double firstUncertainty = 0;
    double lastUncertainty = 0;
};

void Watch(const TCase& c, double seconds, TOutcome& out) {
    CSimClock sim;
    sim.SetTimeOffset(c.offset);
    sim.SetDriftPpm(c.driftPpm);
    if (!sim.Start()) {
        out.failure = "no pseudo-terminal: " + sim.LastError();
        return;
    }
    CCommPort port(nullptr, [&] { return std::make_shared<CDelayedLinkDevice>(c.roundTripMs); });
    if (!port.Open(sim.DevicePath())) {
        out.failure = "the port did not open";
        return;
    }
    CRecordingClockUi ui;
    CClockState state;
    state.SetUi(&ui);
    // The drift bound the estimator allows for is the clock's own where
    // that is larger: a clock drifting beyond it is a test of another promise.
    COffsetPoller poller(std::max(COffsetEstimator::kDefaultDriftPpm, std::fabs(c.driftPpm)));
    const TClockResult last = poller.PollUntil(state, port, -1, HostSeconds() + seconds,
                                               [&](const TClockResult&, const std::string& reply) {
        const COffsetEstimator& e = poller.Estimate();
        const double truth = sim.TimeOffsetAt(HostSeconds());
        if (std::fabs(e.Offset() - truth) > e.Uncertainty()) {
            std::ostringstream text;
            text << "poll " << out.polls + 1 << " (" << reply << "): " << e.Offset() << " +- " << e.Uncertainty()
                 << ", truth " << truth;
            out.outside.push_back(text.str());
        }
        if (++out.polls == 1) out.firstUncertainty = e.Uncertainty();
        out.lastUncertainty = e.Uncertainty();
        return true;
    });
    if (!last) out.failure = last.Reason();
}

TEST(OffsetSim, TheTruthLiesWithinTheClaimAtEveryPollAndTheClaimNarrows) {
    CTestProfile profile;
    WriteProfileInt("Communication", "AutoOpen", 0);
    const TCase cases[] = {
        {-2.37, 0, 0}, {0.73, 0, 0}, {0.04, 200, 0}, {-0.5, -80, 100}, {3600.25, 0, 100},
    };
    constexpr double kSeconds = 9;
    TOutcome outcomes[std::size(cases)];
    std::vector<std::thread> clocks;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        clocks.emplace_back([&, i] { Watch(cases[i], kSeconds, outcomes[i]); });
    for (auto& t : clocks) t.join();

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const TCase& c = cases[i];
        const TOutcome& o = outcomes[i];
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " s, drift " << c.driftPpm << " ppm, round trip "
                                        << c.roundTripMs << " ms");
        EXPECT_EQ(o.failure, "");
        for (const std::string& poll : o.outside) ADD_FAILURE() << poll;
        // A poll every second or so; a busy machine may make a few late.
        EXPECT_GE(o.polls, 4);
        // One poll tells the offset to a second plus the link's spread;
        // the polls after it cut that down to well under half.
        EXPECT_LE(o.firstUncertainty, 0.5 + (c.roundTripMs + 150) / 1000.0 / 2);
        EXPECT_LT(o.lastUncertainty, o.firstUncertainty / 2);
    }
}

}  // namespace
