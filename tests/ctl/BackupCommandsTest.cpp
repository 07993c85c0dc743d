// write keeps the clock's setup before it changes it, leaves a clock that
// holds the setup alone, and restore brings a kept setup back; --trace
// records every byte of a read. Run as tarvelctl against a simulated clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "LineTrace.h"
#include "SetupBackups.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TClockConfig ChangedSetup(unsigned char light = 7) {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.backLight = light;
    SetBE32(c.cableDelay, 424242);
    return c;
}

bool HasWriteCommand(const std::vector<std::string>& log) {
    // Every command that changes the clock: records in, store, reset.
    return std::any_of(log.begin(), log.end(), [](const std::string& c) {
        return c.size() >= 2 && (c.substr(c.size() - 2) == "XR" || c.substr(c.size() - 2) == "XS" ||
                                 c.substr(c.size() - 2) == "XX");
    });
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class BackupCommands : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        m_ctl.WriteProfile("[Communication]\n");
        ASSERT_TRUE(m_sim.Start());
    }

    std::string SetupFile(const std::string& name, const TClockConfig& config) {
        CClockState state;
        *state.GetConfig() = config;
        SaveConfigFile(state, m_dir.File(name));
        return m_dir.File(name);
    }
    std::string BackupFolder() const { return m_dir.File("data/tarvel/backups"); }
    TCtlResult Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", m_sim.DevicePath()});
        return m_ctl.Run(args);
    }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
    CSimClock m_sim;
};

TEST_F(BackupCommands, AWriteKeepsTheClocksSetupAndRestoreBringsItBack) {
    const TClockConfig before = ChangedSetup(3);
    m_sim.SetEeprom(before);
    const std::string file = SetupFile("new.hcs", ChangedSetup(9));

    TCtlResult r = Ctl({"write", file, "--countdown", "0", "--model", "K204"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Same(m_sim.GetEeprom(), ChangedSetup(9)));
    // The stored setup was read before anything was sent.
    const auto log = m_sim.GetCommandLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
              (std::vector<std::string>{"1,K204XO", "1,K204XT", "1,K204XR"}));

    CSetupBackups backups(BackupFolder());
    const auto kept = backups.List(m_sim.DevicePath());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].model, "K204");
    EXPECT_EQ(r.out, "Backup: " + kept[0].path + "\n");
    CClockState saved;
    ASSERT_EQ(LoadConfigFile(saved, kept[0].path), TLoadResult::Loaded);
    EXPECT_TRUE(Same(*saved.GetConfig(), before));

    r = Ctl({"backups"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto listed = Lines(r.out);
    ASSERT_EQ(listed.size(), 1u) << r.out;
    EXPECT_TRUE(std::regex_match(listed[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  .*  K204  .*)")));
    EXPECT_NE(listed[0].find(m_sim.DevicePath()), std::string::npos);
    EXPECT_EQ(listed[0].substr(listed[0].size() - kept[0].path.size()), kept[0].path);

    // The newest backup of the port, with its own model: the clock is as before.
    m_sim.ClearCommandLog();
    r = Ctl({"restore", "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Same(m_sim.GetEeprom(), before));
    EXPECT_EQ(m_sim.GetCommandLog().front(), "1,K204XO");
    // And the restore can be undone in turn.
    EXPECT_EQ(backups.List(m_sim.DevicePath()).size(), 2u);
    r = Ctl({"backups", "--port", "/dev/no-such-port"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(BackupCommands, AClockThatHoldsTheSetupAlreadyIsLeftAlone) {
    m_sim.SetEeprom(ChangedSetup());
    const std::string file = SetupFile("same.hcs", ChangedSetup());

    TCtlResult r = Ctl({"write", file, "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "The clock already holds this setup: nothing was sent.\n");
    EXPECT_FALSE(HasWriteCommand(m_sim.GetCommandLog()));
    EXPECT_TRUE(CSetupBackups(BackupFolder()).List().empty());

    // --force writes all the same (and keeps what was there).
    m_sim.ClearCommandLog();
    r = Ctl({"write", file, "--countdown", "0", "--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(HasWriteCommand(m_sim.GetCommandLog()));
    EXPECT_EQ(CSetupBackups(BackupFolder()).List().size(), 1u);

    // --no-backup: the write alone, as it always was.
    m_sim.ClearCommandLog();
    r = Ctl({"write", file, "--countdown", "0", "--no-backup"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m_sim.GetCommandLog(), (std::vector<std::string>{"1,K201XR", "1,K201XT", "1,K201XS", "1,K201XX"}));
    EXPECT_EQ(r.out, "");
}

TEST_F(BackupCommands, AFailedBackupSendsNothing) {
    const std::string file = SetupFile("new.hcs", ChangedSetup());
    // A clock that does not answer the read.
    TSimFaults faults;
    faults.answerQuestion = true;
    m_sim.SetFaults(faults);
    TCtlResult r = Ctl({"write", file, "--countdown", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Reading the clock's setup for a backup failed: nothing was sent."), std::string::npos)
        << r.err;
    EXPECT_FALSE(HasWriteCommand(m_sim.GetCommandLog()));

    // A backups folder that cannot be made.
    m_sim.SetFaults(TSimFaults{});
    m_sim.ClearCommandLog();
    WriteWholeFile(m_dir.File("data"), "in the way");
    r = Ctl({"write", file, "--countdown", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("could not be backed up"), std::string::npos) << r.err;
    EXPECT_FALSE(HasWriteCommand(m_sim.GetCommandLog()));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), CSimClock::MakeFactorySetup()));

    // Nothing to restore from.
    r = Ctl({"restore"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no backup of port"), std::string::npos) << r.err;
}

TEST_F(BackupCommands, TheTraceAccountsForEveryByteOfARead) {
    m_sim.SetEeprom(ChangedSetup());
    const std::string trace = m_dir.File("line.trace");
    const TCtlResult r = Ctl({"--trace", trace, "read", "-o", m_dir.File("read.hcs")});
    ASSERT_EQ(r.status, 0) << r.err;

    std::string sent, received;
    std::size_t breaks = 0;
    static const std::regex kLine(R"(^\d+\.\d{3} ([<>-]) (.*)$)");
    for (const auto& line : Lines(ReadWholeFile(trace))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line;
        if (m[1] == "-") {
            EXPECT_EQ(m[2], "break");
            ++breaks;
            continue;
        }
        std::string bytes;
        ASSERT_TRUE(CLineTrace::DecodeBytes(m[2], bytes)) << line;
        (m[1] == ">" ? sent : received) += bytes;
    }
    EXPECT_EQ(breaks, 1u);
    // What went out: the two commands; what came in: their echoes, then the
    // records the file was made from, to the last byte the clock sent.
    EXPECT_EQ(sent, "1,K201XO1,K201XT");
    char raw[COMM_BUFFER_SIZE] = {};
    const std::size_t size = CClockState::ConfigToRaw(raw, sizeof raw, ChangedSetup());
    ASSERT_GT(size, 0u);
    EXPECT_EQ(received.size(), sent.size() + size);
    EXPECT_TRUE(received == sent + std::string(raw, size));
}

}  // namespace
