// A clock behind a slow link, or one that answers late, is read, written
// and asked for its time like one on a cable.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "DelayedLink.h"
#include "Profile.h"
#include "RecordingClockUi.h"
#include "SimClock.h"
#include "SimSetups.h"
#include "TestSupport.h"

namespace {

TEST(SlowLink, ReadWriteAndTimeSucceedOverSlowLinksAndWithLateClocks) {
    struct TCase {
        unsigned roundTripMs;
        int replyDelayMs;  // before each of the clock's answers
    };
    for (const TCase c : {TCase{0, 0}, TCase{0, 300}, TCase{100, 0}, TCase{300, 0}}) {
        SCOPED_TRACE("round trip " + std::to_string(c.roundTripMs) + " ms, answers " +
                     std::to_string(c.replyDelayMs) + " ms late");
        CTestProfile profile;
        WriteProfileInt("Communication", "AutoOpen", 0);
        WriteProfileInt("Communication", "CharDelay", 20);
        CSimClock sim;
        TSimFaults faults;
        faults.realisticPace = true;  // 377 characters take 0.4 s at 9600 baud
        faults.replyDelayMs = c.replyDelayMs;
        sim.SetFaults(faults);
        TClockConfig stored = CSimClock::MakeFactorySetup();
        stored.backLight = 5;
        sim.SetEeprom(stored);
        ASSERT_TRUE(sim.Start()) << sim.LastError();
        CCommPort port(nullptr, [&] { return std::make_shared<CDelayedLinkDevice>(c.roundTripMs); });
        ASSERT_TRUE(port.Open(sim.DevicePath()));
        CRecordingClockUi ui;
        CClockState state;
        state.SetUi(&ui);

        const TClockResult read = state.Read(port, true);
        EXPECT_TRUE(read) << read.Reason();
        EXPECT_TRUE(Same(*state.GetConfig(), stored));

        *state.GetConfig() = CSimClock::MakeFactorySetup();
        EXPECT_EQ(state.Write(port), TWriteResult::Written) << state.GetWriteFailure().Reason();
        EXPECT_TRUE(Same(sim.GetEeprom(), CSimClock::MakeFactorySetup()));

        std::string line;
        const TClockResult time = state.AskTime(port, line);
        EXPECT_TRUE(time) << time.Reason();
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d+:\d+:\d+:\d+)"))) << line;
    }
}

}  // namespace
