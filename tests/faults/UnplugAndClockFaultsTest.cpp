// A clock that goes away or misbehaves in the middle of a transfer: the
// transfer fails with a message, says no success, and changes no file; a
// write reports "stored" only when the clock stored the setup.
#include <signal.h>

#include "FaultsSupport.h"

namespace {

TEST_F(FaultTest, UnplugAtEachStageOfAReadFailsAndWritesNoFile) {
    const std::string profile = FileDigest(m_ctl.ProfilePath());
    // After the command that loads the EEPROM; after the one that asks for
    // the records, while they are still on their way (at the line's pace).
    for (int stage : {1, 2}) {
        SCOPED_TRACE("unplugged after command " + std::to_string(stage));
        // On a loaded machine a late echo may end the run before the stage;
        // that run must fail as honestly, and the stage is tried again.
        bool reached = false;
        for (int attempt = 0; attempt < 3 && !reached; ++attempt) {
            CUnpluggableClock clock;
            ASSERT_TRUE(clock.Start());
            TSimFaults pace;
            pace.realisticPace = true;
            clock.Sim().SetFaults(pace);
            const std::string out = File("read.hcs");
            WriteWholeFile(out, "kept");
            const std::string before = FileDigest(out);
            clock.UnplugAfter(stage);
            const TCtlResult r = m_ctl.Run({"--port", clock.Sim().DevicePath(), "read", "-o", out});
            clock.Disarm();
            reached = clock.Unplugged();
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_NE(r.err.find("tarvelctl: "), std::string::npos) << r.err;
            EXPECT_FALSE(SaysSuccess(r.out + r.err));
            EXPECT_EQ(FileDigest(out), before);
            EXPECT_EQ(FileDigest(m_ctl.ProfilePath()), profile);
        }
        EXPECT_TRUE(reached);
    }
}

TEST_F(FaultTest, UnplugAtEachStageOfAWriteFailsAndStoresOnlyWhatTheClockTook) {
    const std::string setup = WriteSetup("new.hcs", ChangedSetup());
    const std::string before = FileDigest(setup);
    const std::string profile = FileDigest(m_ctl.ProfilePath());
    // After the records were announced (they go to a dead line), after the
    // verification was asked for, after the store (the reset is lost).
    for (int stage : {1, 2, 3}) {
        SCOPED_TRACE("unplugged after command " + std::to_string(stage));
        bool reached = false;
        for (int attempt = 0; attempt < 3 && !reached; ++attempt) {
            CUnpluggableClock clock;
            ASSERT_TRUE(clock.Start());
            clock.UnplugAfter(stage);
            const TCtlResult r =
                m_ctl.Run({"--port", clock.Sim().DevicePath(), "write", setup, "--countdown", "1", "--no-backup",
                            "--model", "K201"});
            clock.Disarm();
            reached = clock.Unplugged();
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_NE(r.err.find("tarvelctl: "), std::string::npos) << r.err;
            EXPECT_FALSE(SaysSuccess(r.out + r.err));
            EXPECT_EQ(FileDigest(setup), before);
            EXPECT_EQ(FileDigest(m_ctl.ProfilePath()), profile);
            // Stored only by the store command itself.
            if (reached) {
                EXPECT_EQ(SameSetup(clock.Sim().GetEeprom(), ChangedSetup()), stage >= 3);
            }
        }
        EXPECT_TRUE(reached);
    }
}

// Every fault switch of the simulated clock during a write: either the write
// succeeds and the clock holds the setup, or it fails with a message and the
// clock's stored setup is the old one. One test per switch, so they run side
// by side.
struct TFaultRow {
    const char* name;
    void (*set)(TSimFaults&);
    bool mustFail;
};

const TFaultRow kFaultRows[] = {
    {"noEcho", [](TSimFaults& f) { f.noEcho = true; }, true},
    {"wrongEcho", [](TSimFaults& f) { f.wrongEcho = true; }, true},
    {"answerQuestion", [](TSimFaults& f) { f.answerQuestion = true; }, true},
    {"badDigit", [](TSimFaults& f) { f.badDigit = true; }, true},
    // Longer than any wait for the answer; a shorter delay is waited out.
    {"replyDelayMs", [](TSimFaults& f) { f.replyDelayMs = 3000; }, true},
    {"differAfterWrite", [](TSimFaults& f) { f.differAfterWrite = true; }, true},
    {"lineNoise", [](TSimFaults& f) { f.lineNoise = true; }, false},
    {"oldRom", [](TSimFaults& f) { f.oldRom = true; }, false},
    {"realisticPace", [](TSimFaults& f) { f.realisticPace = true; }, false},
};

class FaultSwitchTest : public FaultTest, public ::testing::WithParamInterface<TFaultRow> {};

TEST_P(FaultSwitchTest, DuringAWriteEndsHonestly) {
    const TFaultRow& row = GetParam();
    const std::string setup = WriteSetup("new.hcs", ChangedSetup());
    const std::string before = FileDigest(setup);
    CSimClock sim;
    ASSERT_TRUE(sim.Start());
    TSimFaults faults;
    row.set(faults);
    sim.SetFaults(faults);
    const TCtlResult r = m_ctl.Run({"--port", sim.DevicePath(), "write", setup, "--countdown", "0", "--no-backup"});
    EXPECT_EQ(FileDigest(setup), before);
    if (r.status == 0) {
        EXPECT_FALSE(row.mustFail) << r.err;
        EXPECT_TRUE(SameSetup(sim.GetEeprom(), ChangedSetup()));
    } else {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("Error writing to comm device."), std::string::npos) << r.err;
        EXPECT_FALSE(SaysSuccess(r.out + r.err));
        EXPECT_TRUE(SameSetup(sim.GetEeprom(), CSimClock::MakeFactorySetup()));
    }
}

INSTANTIATE_TEST_SUITE_P(EverySwitch, FaultSwitchTest, ::testing::ValuesIn(kFaultRows),
                         [](const ::testing::TestParamInfo<TFaultRow>& info) { return std::string(info.param.name); });

TEST_F(FaultTest, ALostEchoFailsTheWriteInsteadOfReportingItStored) {
    const std::string setup = WriteSetup("new.hcs", ChangedSetup());
    for (int every : {3, 9, 23}) {
        SCOPED_TRACE("every " + std::to_string(every) + "th echo lost");
        CSimClock sim;
        ASSERT_TRUE(sim.Start());
        TSimFaults faults;
        faults.dropEchoEvery = every;
        sim.SetFaults(faults);
        const TCtlResult r = m_ctl.Run({"--port", sim.DevicePath(), "write", setup, "--countdown", "0", "--no-backup"});
        if (r.status == 0) {
            EXPECT_TRUE(SameSetup(sim.GetEeprom(), ChangedSetup())) << "reported stored, but not stored";
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_FALSE(SaysSuccess(r.out + r.err));
        }
    }
}

TEST_F(FaultTest, SigkillDuringAWriteLeavesTheFileAndTheClocksStoredSetup) {
    CSimClock sim;
    ASSERT_TRUE(sim.Start());
    const std::string setup = WriteSetup("new.hcs", ChangedSetup());
    const std::string before = FileDigest(setup);
    const pid_t pid = m_ctl.Start({"--port", sim.DevicePath(), "write", setup, "--countdown", "30", "--no-backup"});
    ASSERT_GT(pid, 0);
    // Killed while the first countdown runs, after the records went out.
    m_ctl.WaitForErr(pid, {"Countdown 30"}, 30000);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    const TCtlResult r = m_ctl.Finish(pid);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(FileDigest(setup), before);
    EXPECT_TRUE(SameSetup(sim.GetEeprom(), CSimClock::MakeFactorySetup()));
    // The port was let go with the process: a read works at once.
    const TCtlResult again = m_ctl.Run({"--port", sim.DevicePath(), "read", "-o", File("back.hcs")});
    EXPECT_EQ(again.status, 0) << again.err;
}

}  // namespace
