// Runs the built tarvelctl against a simulated clock served by the test
// process, with its own profile (XDG_CONFIG_HOME) and temporary folder.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

using TRun = TCtlResult;

bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TClockConfig ChangedSetup() {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.backLight = 7;
    SetBE32(c.cableDelay, 424242);
    c.option23a = 0x33;
    return c;
}

class PortCommands : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        std::filesystem::create_directories(m_dir.File("tmp"));
        m_ctl.SetEnv("TMPDIR", m_dir.File("tmp"));
        // tarvelctl's port cannot wait for a late echo as the in-process
        // tests' ports do (EchoPatience.h): it keeps its default pause of
        // 100 ms, well above the simulated clock's delays on a loaded machine.
        WriteProfile("[Communication]\n");
        ASSERT_TRUE(m_sim.Start()) << m_sim.LastError();
    }

    void WriteProfile(const std::string& text) {
        m_profileText = text;
        m_ctl.WriteProfile(text);
    }
    std::string Profile() { return ReadWholeFile(m_ctl.ProfilePath()); }
    bool TempIsEmpty() { return std::filesystem::is_empty(m_dir.File("tmp")); }
    pid_t Start(const std::vector<std::string>& args) { return m_ctl.Start(args); }
    TRun Finish(pid_t pid) { return m_ctl.Finish(pid); }
    TRun Run(const std::vector<std::string>& args) { return m_ctl.Run(args); }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
    CSimClock m_sim;
    std::string m_profileText;
};

TEST_F(PortCommands, ReadSavesTheClocksSetupAndLeavesTheSettingsAlone) {
    m_sim.SetEeprom(ChangedSetup());
    const std::string file = m_dir.File("clock.hcs");

    const TRun r = Run({"--port", m_sim.DevicePath(), "read", "-o", file});
    ASSERT_EQ(r.status, 0) << r.err;
    CClockState saved;
    ASSERT_EQ(LoadConfigFile(saved, file), TLoadResult::Loaded);
    EXPECT_TRUE(Same(*saved.GetConfig(), ChangedSetup()));
    // No stored model: the clock is asked, and names itself a K203 (whose
    // ROM date the read then checks).
    EXPECT_EQ(m_sim.GetCommandLog(), (std::vector<std::string>{"v", "1,K203XO", "1,K203XT", "v"}));
    // The device used is not stored for the program, and no copy is left.
    EXPECT_EQ(Profile(), m_profileText);
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(PortCommands, WriteRunsItsCountdownsAndStoresTheSetup) {
    WriteProfile("[Communication]\nModel=K205\nCommPort=" + m_sim.DevicePath() + "\n");
    CClockState state;
    *state.GetConfig() = ChangedSetup();
    const std::string file = m_dir.File("new.hcs");
    SaveConfigFile(state, file);

    const TRun r = Run({"write", file, "--countdown", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The clock's stored setup is read (and kept) first.
    EXPECT_EQ(m_sim.GetCommandLog(), (std::vector<std::string>{"1,K205XO", "1,K205XT", "1,K205XR", "1,K205XT",
                                                               "1,K205XS", "1,K205XX"}));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), ChangedSetup()));
    // Off a terminal: each step and each count a plain line, in order.
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
    std::size_t at = 0;
    for (const char* line : {"Reading the clock's setup for a backup...\n", "Sending the setup to the clock...\n",
                             "Waiting for the clock to take the setup.\nCountdown 1...\nCountdown 0...\n",
                             "Reading the setup back from the clock to verify it...\n",
                             "Waiting before storing the setup in the clock's EEPROM.\nCountdown 1...\n",
                             "Storing the setup in the clock's EEPROM...\n", "Waiting before resetting the clock.\n",
                             "Resetting the clock...\n",
                             "The setup was written, verified and stored, and the clock reset.\n"}) {
        at = r.err.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n---\n" << r.err;
    }
    EXPECT_EQ(Profile(), m_profileText);
}

// What systemd, a timeout or a dropped SSH session sends ends a write as
// Ctrl-C does: after its current step, saying what was left undone.
TEST_F(PortCommands, TermAndHangUpEndAWriteAfterItsStepAndSaySo) {
    CClockState state;
    *state.GetConfig() = ChangedSetup();
    const std::string file = m_dir.File("new.hcs");
    SaveConfigFile(state, file);
    const struct {
        int signal;
        const char* backup;  // "--no-backup", or "--force" to read one first
        const char* during;  // what stderr shows when the signal is sent
        const char* said;
        std::vector<std::string> commands;
    } kCases[] = {
        {SIGTERM, "--no-backup", "Countdown 30", "SIGTERM came", {"1,K201XR"}},
        {SIGHUP, "--no-backup", "Countdown 30", "SIGHUP came", {"1,K201XR"}},
        {SIGTERM, "--force", "for a backup...", "Write cancelled: nothing was sent.", {"1,K201XO", "1,K201XT"}},
    };
    for (const auto& c : kCases) {
        m_sim.ClearCommandLog();
        const pid_t pid =
            Start({"--port", m_sim.DevicePath(), "--model", "K201", "write", file, "--countdown", "30", c.backup});
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(m_ctl.WaitForErr(pid, {c.during})) << c.said;
        kill(pid, c.signal);
        const TRun r = Finish(pid);
        EXPECT_EQ(r.status, 1) << c.said << "\n" << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("tarvelctl: Write cancelled: "), std::string::npos) << r.err;
        EXPECT_EQ(m_sim.GetCommandLog(), c.commands) << c.said;
        EXPECT_TRUE(Same(m_sim.GetEeprom(), CSimClock::MakeFactorySetup()));
    }
}

// A setup read from the clock moments before stands for reading it again:
// compared with the file and kept as the backup.
TEST_F(PortCommands, WriteWithClockReadDoesNotReadTheClockAgain) {
    m_sim.SetEeprom(ChangedSetup());
    const std::string read = m_dir.File("read.hcs");
    ASSERT_EQ(Run({"--port", m_sim.DevicePath(), "--model", "K201", "read", "-o", read}).status, 0);

    m_sim.ClearCommandLog();
    TRun r = Run({"--port", m_sim.DevicePath(), "--model", "K201", "write", read, "--clock-read", read});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "The clock already holds this setup: nothing was sent.\n");
    EXPECT_TRUE(m_sim.GetCommandLog().empty());

    CClockState factory;
    *factory.GetConfig() = CSimClock::MakeFactorySetup();
    const std::string file = m_dir.File("factory.hcs");
    SaveConfigFile(factory, file);
    r = Run({"--port", m_sim.DevicePath(), "--model", "K201", "write", file, "--clock-read", read, "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m_sim.GetCommandLog(), (std::vector<std::string>{"1,K201XR", "1,K201XT", "1,K201XS", "1,K201XX"}));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), CSimClock::MakeFactorySetup()));
    ASSERT_EQ(r.out.rfind("Backup: ", 0), 0u) << r.out;
    CClockState kept;
    ASSERT_EQ(LoadConfigFile(kept, r.out.substr(8, r.out.size() - 9)), TLoadResult::Loaded) << r.out;
    EXPECT_TRUE(Same(*kept.GetConfig(), ChangedSetup()));
}

TEST_F(PortCommands, CtrlCDuringACountdownEndsTheWriteThere) {
    CClockState state;
    *state.GetConfig() = ChangedSetup();
    const std::string file = m_dir.File("new.hcs");
    SaveConfigFile(state, file);

    const pid_t pid =
        Start({"--port", m_sim.DevicePath(), "--model", "K201", "write", file, "--countdown", "30", "--no-backup"});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(m_ctl.WaitForErr(pid, {"Countdown 30"}));
    kill(pid, SIGINT);
    const TRun r = Finish(pid);

    // Cancelled is not done: the sentence says what was left out.
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("\ntarvelctl: Write cancelled: the setup was sent but not verified, "
                         "stored or the clock reset.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(m_sim.GetCommandLog(), (std::vector<std::string>{"1,K201XR"}));
    EXPECT_TRUE(Same(m_sim.GetEeprom(), CSimClock::MakeFactorySetup()));
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(PortCommands, TimeAndSendTalkToTheClock) {
    std::tm when{};
    when.tm_year = 101;
    when.tm_mon = 1;
    when.tm_mday = 3;
    when.tm_hour = 4;
    when.tm_min = 5;
    m_sim.SetClockTime(timegm(&when));
    TRun r = Run({"--port", m_sim.DevicePath(), "time", "get"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("34:4:5:", 0), 0u) << r.out;  // 3 February: day 34
    EXPECT_EQ(r.out.back(), '\n');

    r = Run({"--port", m_sim.DevicePath(), "--model", "k203", "time", "set"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_FALSE(m_sim.GetCommandLog().empty());
    const std::string set = m_sim.GetCommandLog().back();
    EXPECT_EQ(set.size(), 18u);
    EXPECT_EQ(set.substr(16), "TS");

    // The echo and the ROM date line, control characters other than CR LF dropped.
    r = Run({"send", "v", "--port", m_sim.DevicePath(), "--wait", "300"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "v12 Mar 1998\r\n");
    EXPECT_EQ(m_sim.GetCommandLog().back(), "v");

    // An answer that could not be shown is a failure.
    m_ctl.SetStdout("/dev/full");
    r = Run({"send", "v", "--port", m_sim.DevicePath(), "--wait", "300"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos) << r.err;
}

// Output that never arrived is never a success, whichever command printed it.
TEST_F(PortCommands, EveryPrintingCommandFailsOnAFullStandardOutput) {
    const std::string a = m_dir.File("a.hcs"), b = m_dir.File("b.hcs");
    ASSERT_EQ(Run({"new", a}).status, 0);
    ASSERT_EQ(Run({"new", b}).status, 0);
    ASSERT_EQ(Run({"set", b, "3=9600"}).status, 0);
    m_ctl.SetStdout("/dev/full");
    const std::vector<std::vector<std::string>> commands = {
        {"show", a}, {"show", a, "--json"}, {"get", a, "3"}, {"export", a}, {"dump", a},
        {"hex", a},  {"ports"},             {"ports", "--json"}, {"diff", a, b}, {"diff", a, b, "--json"}};
    for (const auto& command : commands) {
        const TRun r = Run(command);
        EXPECT_EQ(r.status, command[0] == "diff" ? 2 : 1) << command[0] << " " << command.back();
        EXPECT_NE(r.err.find("cannot write to standard output: No space left on device"), std::string::npos)
            << command[0] << ": " << r.err;
    }
}

TEST_F(PortCommands, AnEchoLostMidCommandFailsTheWriteAndTheTimeSet) {
    CClockState state;
    *state.GetConfig() = ChangedSetup();
    const std::string file = m_dir.File("new.hcs");
    SaveConfigFile(state, file);

    // The 23rd command byte is the "X" of the store command: sent again, it
    // reaches the clock doubled, and the store never happens.
    TSimFaults faults;
    faults.dropEchoEvery = 23;
    m_sim.SetFaults(faults);
    TRun r = Run({"--port", m_sim.DevicePath(), "write", file, "--countdown", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Error writing to comm device."), std::string::npos) << r.err;
    EXPECT_TRUE(Same(m_sim.GetEeprom(), CSimClock::MakeFactorySetup()));

    faults.dropEchoEvery = 3;
    m_sim.SetFaults(faults);
    r = Run({"--port", m_sim.DevicePath(), "time", "set"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("time set: the clock did not take the command"), std::string::npos) << r.err;
}

TEST_F(PortCommands, AQuestionMarkAnswerIsARefusal) {
    TSimFaults faults;
    faults.answerQuestion = true;
    m_sim.SetFaults(faults);
    for (const char* what : {"get", "set"}) {
        const TRun r = Run({"--port", m_sim.DevicePath(), "time", what});
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_EQ(r.err, std::string("tarvelctl: time ") + what + ": the clock refused the command (it answered '?')\n" +
                             "tarvelctl: the clock answered '?' to the command " + (what[0] == 'g' ? "TU" : "TS (set time)") +
                             "\n");
        EXPECT_EQ(r.out, "");
    }
    // With --json the failure is a document too, for scripts.
    const TRun r = Run({"--port", m_sim.DevicePath(), "read", "-o", m_dir.File("never.hcs"), "--json"});
    EXPECT_EQ(r.status, 1);
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << r.out;
    EXPECT_EQ(doc.value("failure", ""), "refused");
    EXPECT_EQ(doc.value("reason", ""), "the clock answered '?' to the command 1,K201XT");
    EXPECT_EQ(doc.value("error", ""), "reading the setup from the clock failed: Error reading from comm port.");
}

TEST_F(PortCommands, AnUnpluggedDeviceIsReportedOnce) {
    const std::string file = m_dir.File("never.hcs");
    const pid_t pid = Start({"--port", m_sim.DevicePath(), "read", "-o", file});
    ASSERT_GT(pid, 0);
    // Pulled once the first command was taken, while the second goes out.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (m_sim.GetCommandLog().empty() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    m_sim.Stop();
    const TRun r = Finish(pid);

    EXPECT_EQ(r.status, 1);
    // The reason comes last: the port's own.
    EXPECT_EQ(r.err.rfind("tarvelctl: the port's device has gone (Input/output error); run the command again once it is back\n"
                          "tarvelctl: reading the setup from the clock failed: Error reading from comm port.\n"
                          "tarvelctl: the port failed: ",
                          0),
              0u)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(PortCommands, FailuresAndUsageErrors) {
    const std::string file = m_dir.File("never.hcs");
    TRun r = Run({"--port", m_dir.File("no-such-device"), "read", "-o", file});
    EXPECT_EQ(r.status, 1);
    // The system's reason, never the failed call's name.
    EXPECT_NE(r.err.find(std::strerror(ENOENT)), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("CreateFile"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("opening port"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(TempIsEmpty());

    // A clock that does not answer: the step is named, nothing is saved.
    TSimFaults faults;
    faults.noEcho = true;
    m_sim.SetFaults(faults);
    r = Run({"--port", m_sim.DevicePath(), "read", "-o", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("reading the setup from the clock failed"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(file));

    EXPECT_EQ(Run({"--port", m_sim.DevicePath(), "--model", "K999", "time", "get"}).status, 2);
    EXPECT_EQ(Run({"--port", m_sim.DevicePath(), "time", "now"}).status, 2);
    // The file to read into is only taken with -o, and the usage says so.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read"}, std::vector<std::string>{"read", file}}) {
        std::vector<std::string> withPort = {"--port", m_sim.DevicePath()};
        withPort.insert(withPort.end(), args.begin(), args.end());
        r = Run(withPort);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("tarvelctl: read needs -o FILE", 0), 0u) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    r = Run({"read", "--help"});
    EXPECT_NE(r.out.find("(about 3 s with"), std::string::npos) << r.out;
    EXPECT_EQ(Run({"write", file, "--countdown", "soon"}).status, 2);
    r = Run({"send", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: tarvelctl send TEXT"), std::string::npos);
    EXPECT_NE(r.out.find("--port DEV"), std::string::npos);
}

}  // namespace
