// The offset estimator against clocks of known offset and drift that tell
// whole seconds, polled once a second where the estimator aims, with the
// moment the clock takes the command anywhere in its window.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "OffsetEstimator.h"

namespace {

constexpr double kStart = 1.8e9 + 0.123;  // host seconds, some fraction in

struct TTruth {
    double offset;  // at kStart
    double driftPpm;
    double At(double host) const { return offset + driftPpm * 1e-6 * (host - kStart); }
};

// One poll of a clock: the command's last byte written at sent, its echo
// read spread later; the clock took it at a random moment in between.
TOffsetPoll Poll(const TTruth& clock, double sent, double spread, std::mt19937& rng) {
    const double taken = sent + std::uniform_real_distribution<double>(0, spread)(rng);
    return {sent, sent + spread, std::floor(taken + clock.At(taken))};
}

}  // namespace

TEST(OffsetEstimator, ConvergesAndNeverClaimsMoreThanThePollsShow) {
    // spread: 2 ms on a fast local line, 100 ms the default character pause,
    // 300 ms a terminal server 200 ms away.
    const struct {
        TTruth clock;
        double spread;
        double errorAt60;
    } cases[] = {
        {{-2.37, 0}, 0.002, 0.01}, {{-0.5, 0}, 0.1, 0.06}, {{0.04, 50}, 0.1, 0.06},
        {{0.73, -80}, 0.15, 0.1},  {{-1.2, 20}, 0.3, 0.16}, {{3600.25, 0}, 0.002, 0.01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.clock.offset << " drift " << c.clock.driftPpm
                                        << " spread " << c.spread);
        std::mt19937 rng(7);
        COffsetEstimator estimator;
        double now = kStart;
        for (int second = 0; second < 60; ++second) {
            // The estimator aims where the middle of the take window should fall.
            const double sent = estimator.NextTakeAt(now + c.spread / 2) - c.spread / 2;
            ASSERT_GE(sent, now - c.spread / 2);
            const TOffsetPoll poll = Poll(c.clock, sent, c.spread, rng);
            ASSERT_TRUE(estimator.Add(poll));
            const double truth = c.clock.At(poll.takenLatest);
            EXPECT_LE(std::fabs(estimator.Offset() - truth), estimator.Uncertainty() + 1e-9) << "poll " << second;
            EXPECT_LE(estimator.Uncertainty(), 0.5 + c.spread / 2 + 1e-3);
            now = sent + 1.0;
        }
        EXPECT_LT(std::fabs(estimator.Offset() - c.clock.At(now)), c.errorAt60);
        EXPECT_LT(estimator.Uncertainty(), c.errorAt60);
    }
}

TEST(OffsetEstimator, AClockSetMeanwhileStartsTheWindowAfreshAndBadPollsTeachNothing) {
    // Where the set clock's answers first contradict the window depends on
    // where in the second the polls fall: several runs, each must recover.
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        COffsetEstimator estimator;
        TTruth clock{0.2, 0};
        double now = kStart;
        for (int i = 0; i < 20; ++i, now += 1.0) estimator.Add(Poll(clock, estimator.NextTakeAt(now), 0.01, rng));
        ASSERT_LT(estimator.Uncertainty(), 0.02);

        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (const TOffsetPoll bad : {TOffsetPoll{now + 1, now, 5}, TOffsetPoll{nan, now, 5}, TOffsetPoll{now, now, nan}})
            EXPECT_FALSE(estimator.Add(bad));
        EXPECT_EQ(estimator.Polls(), 20u);

        clock.offset = 0.45;  // someone set the clock, by less than a second
        // Polls aimed at the old estimate alone would agree with it for ever;
        // within some polls the clock answers outside it, and from then on it holds.
        int wrong = 0, lastWrong = -1;
        for (int i = 0; i < 30; ++i, now += 1.0) {
            const TOffsetPoll poll = Poll(clock, estimator.NextTakeAt(now), 0.01, rng);
            estimator.Add(poll);
            if (std::fabs(estimator.Offset() - clock.At(poll.takenLatest)) > estimator.Uncertainty() + 1e-9) {
                ++wrong;
                lastWrong = i;
            }
        }
        EXPECT_LT(lastWrong, 20) << wrong << " wrong estimates";
        EXPECT_LT(estimator.Uncertainty(), 0.02);
    }
}
