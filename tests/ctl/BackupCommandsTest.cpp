// write keeps the clock's setup before it changes it, leaves a clock that
// holds the setup alone, and restore brings a kept setup back; --trace
// records every byte of a read. Run as tarvelctl against a simulated clock.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
        // A stored model: the clock is not asked which it is.
        m_ctl.WriteProfile("[Communication]\nModel=K201\n");
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

    // Nothing to restore from: the folder cannot even be looked into.
    r = Ctl({"restore"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read the backups folder"), std::string::npos) << r.err;
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
    const std::size_t size = ConfigToRaw(raw, sizeof raw, ChangedSetup());
    ASSERT_GT(size, 0u);
    EXPECT_EQ(received.size(), sent.size() + size);
    EXPECT_TRUE(received == sent + std::string(raw, size));
}

TEST_F(BackupCommands, RestoreWithoutANameTakesTheNewestBackupThatDiffersFromTheClock) {
    const std::string three = SetupFile("three.hcs", ChangedSetup(3)), nine = SetupFile("nine.hcs", ChangedSetup(9));
    m_sim.SetEeprom(ChangedSetup(3));
    ASSERT_EQ(Ctl({"write", three, "--countdown", "0", "--force"}).status, 0);
    // Every backup holds what the clock has: nothing to do.
    m_sim.ClearCommandLog();
    TCtlResult r = Ctl({"restore", "--countdown", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("every backup of port " + m_sim.DevicePath() + " holds the setup the clock has now"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(HasWriteCommand(m_sim.GetCommandLog()));

    // A write, then one more of the same: the newest backup is the clock's own.
    ASSERT_EQ(Ctl({"write", nine, "--countdown", "0"}).status, 0);
    ASSERT_EQ(Ctl({"write", nine, "--countdown", "0", "--force"}).status, 0);
    const auto kept = CSetupBackups(BackupFolder()).List();
    ASSERT_EQ(kept.size(), 3u);
    m_sim.ClearCommandLog();
    r = Ctl({"restore", "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Same(m_sim.GetEeprom(), ChangedSetup(3)));
    // The clock is read once to choose and once to verify the write: the
    // choosing read is the write's backup.
    const auto log = m_sim.GetCommandLog();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& c) { return c.size() > 2 && c.substr(c.size() - 2) == "XT"; }), 2);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(Lines(r.out).front(),
              "restoring " + kept[1].path + ": the 1 newer backup(s) hold the setup the clock has now");
}

TEST_F(BackupCommands, BackupsAsJsonAndAFolderThatCannotBeRead) {
    m_sim.SetEeprom(ChangedSetup(3));
    ASSERT_EQ(Ctl({"write", SetupFile("nine.hcs", ChangedSetup(9)), "--countdown", "0"}).status, 0);
    const auto kept = CSetupBackups(BackupFolder()).List();
    ASSERT_EQ(kept.size(), 1u);

    TCtlResult r = Ctl({"backups", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["version"], 1);
    EXPECT_EQ(doc["command"], "backups");
    EXPECT_EQ(doc["folder"], BackupFolder());
    ASSERT_EQ(doc["backups"].size(), 1u);
    const auto& b = doc["backups"][0];
    EXPECT_EQ(b["name"], std::filesystem::path(kept[0].path).filename().string());
    EXPECT_EQ(b["file"], kept[0].path);
    EXPECT_EQ(b["port"], m_sim.DevicePath());
    EXPECT_EQ(b["model"], "K201");
    EXPECT_TRUE(std::regex_match(std::string(b["utc"]), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    EXPECT_EQ(b["utc"].get<std::string>().substr(0, 4), kept[0].stamp.substr(0, 4));
    EXPECT_EQ(b["local_time"], kept[0].when);

    // A folder in the way of reading says why, even to root: a file stands
    // where a folder of its path should be.
    std::filesystem::remove_all(m_dir.File("data"));
    WriteWholeFile(m_dir.File("data"), "in the way");
    for (const char* json : {"", "--json"}) {
        std::vector<std::string> args{"backups"};
        if (*json) args.push_back(json);
        r = Ctl(args);
        EXPECT_EQ(r.status, 1) << json;
        EXPECT_EQ(r.out, "") << json;
        EXPECT_NE(r.err.find("cannot read the backups folder " + BackupFolder() + ": Not a directory"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(BackupCommands, TheModelIsTheOneGivenOrStoredOrElseTheOneTheClockSays) {
    struct TRow {
        const char* stored;  // the profile's Model, "" for none
        std::vector<std::string> options;
        bool clockTells;  // the clock answers "v" with its ROM date, as the K203 does
        std::vector<std::string> first;  // the first commands the clock takes
    };
    const TRow rows[] = {
        {"", {}, true, {"v", "1,K203XO"}},
        {"", {}, false, {"v", "1,K201XO"}},
        {"K205", {}, true, {"1,K205XO", "1,K205XT"}},
        {"K205", {"--model", "auto"}, true, {"v", "1,K203XO"}},
        {"K205", {"--model", "AUTO"}, false, {"v", "1,K205XO"}},
        {"", {"--model", "K204"}, true, {"1,K204XO", "1,K204XT"}},
    };
    for (const TRow& row : rows) {
        m_ctl.WriteProfile(std::string("[Communication]\n") + (*row.stored ? "Model=" : "") + row.stored + "\n");
        m_sim.SetRomDate(row.clockTells ? CSimClock::ROM_DATE : "");
        m_sim.ClearCommandLog();
        std::vector<std::string> args{"read", "-o", m_dir.File("read.hcs")};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const TCtlResult r = Ctl(args);
        ASSERT_EQ(r.status, 0) << row.stored << " " << row.clockTells << r.err;
        const auto log = m_sim.GetCommandLog();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 2), row.first)
            << row.stored << " " << row.clockTells;
    }
    const TCtlResult r = Ctl({"read", "-o", m_dir.File("read.hcs"), "--model", "K209"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("one of K201 to K206, or auto"), std::string::npos) << r.err;
}

TEST_F(BackupCommands, AStrictClockIsHeardOnlyAtTheRateItsSetupGives) {
    TSimFaults strict;
    strict.strictRate = true;
    m_sim.SetFaults(strict);
    TClockConfig fast = ChangedSetup();
    fast.mainBaud = 4;  // 19200
    const std::string out = m_dir.File("read.hcs");
    EXPECT_EQ(Ctl({"--baud", "19200", "read", "-o", out}).status, 1);

    // Written at 9600; the reset that ends the write moves the clock to 19200.
    TCtlResult r = Ctl({"write", SetupFile("fast.hcs", fast), "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Ctl({"probe"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, m_sim.DevicePath() + "\t19200\tK203\t12 Mar 1998\n");
    EXPECT_EQ(Ctl({"read", "-o", out}).status, 1);
    r = Ctl({"--baud", "19200", "read", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    CClockState read;
    ASSERT_EQ(LoadConfigFile(read, out), TLoadResult::Loaded);
    EXPECT_TRUE(Same(*read.GetConfig(), fast));
}

}  // namespace
