// Several clocks from one tarvelctl: finding them (probe), serving several
// ports at once, and the command-line conventions scripts rely on.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

// A pseudo-terminal with nothing behind it: a port where no clock answers.
class CSilentLine {
public:
    CSilentLine() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0 &&
            ::ptsname_r(m_master, name, sizeof name) == 0)
            m_path = name;
    }
    // noisy: the line carries bytes of all kinds, the probe's 'v' among
    // them, over and over, as a line with a broken device on it does.
    explicit CSilentLine(bool noisy) : CSilentLine() {
        if (!noisy || m_master < 0) return;
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
        m_noise = std::thread([this] {
            unsigned char pattern[48];
            for (int i = 0; i < 48; ++i) pattern[i] = static_cast<unsigned char>(i * 167 + 13);
            pattern[10] = 'v';
            while (!m_stop) {
                [[maybe_unused]] const ssize_t n = ::write(m_master, pattern, sizeof pattern);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                char drain[256];
                while (::read(m_master, drain, sizeof drain) > 0) {
                }
            }
        });
    }
    ~CSilentLine() {
        m_stop = true;
        if (m_noise.joinable()) m_noise.join();
        if (m_master >= 0) ::close(m_master);
    }
    const std::string& Path() const { return m_path; }

private:
    int m_master = -1;
    std::string m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_noise;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TClockConfig SetupNumber(int n) {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.backLight = static_cast<std::uint8_t>(n);
    SetBE32(c.cableDelay, 1000 + n);
    return c;
}

class Fleet : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        m_ctl.WriteProfile("[Communication]\n");
    }
    TCtlResult Run(const std::vector<std::string>& args, int timeoutMs = 90000) { return m_ctl.Run(args, timeoutMs); }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
};

TEST_F(Fleet, ProbeFindsTheClockOnTheSecondOfThreeLinesAtItsOwnRate) {
    CSilentLine first, third;
    CSimClock clock;
    TSimFaults faults;
    faults.onlyAtRate = 19200;  // deaf at 9600, where the probe starts
    clock.SetFaults(faults);
    ASSERT_TRUE(clock.Start()) << clock.LastError();
    ASSERT_FALSE(first.Path().empty());
    ASSERT_FALSE(third.Path().empty());

    const TCtlResult r = Run({"probe", "--port", first.Path(), "--port", clock.DevicePath(), "--port", third.Path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{clock.DevicePath() + "\t19200\tK203\t12 Mar 1998"}));
    // Asked for its ROM date once, at the rate it hears; nothing that changes it.
    EXPECT_EQ(clock.GetCommandLog(), (std::vector<std::string>{"v"}));

    // The rate found is the one to read at; a rate the clock knows no such
    // thing as is refused before anything is sent.
    const std::string file = m_dir.File("found.hcs");
    TCtlResult read = Run({"--port", clock.DevicePath(), "--baud", "19200", "read", "-o", file});
    EXPECT_EQ(read.status, 0) << read.err;
    read = Run({"--port", clock.DevicePath(), "read", "-o", file, "--baud", "12345"});
    EXPECT_EQ(read.status, 2);
    EXPECT_NE(read.err.find("--baud 12345 is not one of 1200, 2400"), std::string::npos) << read.err;
}

// A clock found at another rate is written and restored at that rate: the
// backup read before each write uses --baud as the write does.
TEST_F(Fleet, AClockAtAnotherRateIsWrittenAndRestoredWithBaud) {
    CSimClock clock;
    TSimFaults faults;
    faults.onlyAtRate = 19200;
    clock.SetFaults(faults);
    ASSERT_TRUE(clock.Start()) << clock.LastError();
    const TClockConfig before = clock.GetEeprom();
    CClockState state;
    *state.GetConfig() = SetupNumber(4);
    const std::string file = m_dir.File("four.hcs");
    SaveConfigFile(state, file);

    TCtlResult r = Run({"--port", clock.DevicePath(), "--baud", "19200", "-q", "write", file, "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Same(clock.GetEeprom(), SetupNumber(4)));
    r = Run({"--port", clock.DevicePath(), "--baud", "19200", "-q", "restore", "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Same(clock.GetEeprom(), before));
}

TEST_F(Fleet, ProbeWithNoClockSaysSoAndNamesThePortsItCouldNotOpen) {
    CSilentLine silent, noisy(true);
    const std::string missing = m_dir.File("no-such-tty");
    const auto start = std::chrono::steady_clock::now();
    const TCtlResult r = Run({"--port", silent.Path(), "probe", "--port", noisy.Path(), "--port", missing});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("tarvelctl: " + missing + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no clock answered on " + silent.Path() + ", " + noisy.Path() + ", " + missing),
              std::string::npos)
        << r.err;
    // Seven rates on a silent line: bounded, not the minutes of a full read at each.
    EXPECT_LT(took, std::chrono::seconds(20));
}

TEST_F(Fleet, SeveralPortsAreReadAtOnceIntoOneFilePerPort) {
    CSimClock clocks[3];
    for (int i = 0; i < 3; ++i) {
        clocks[i].SetEeprom(SetupNumber(i + 1));
        ASSERT_TRUE(clocks[i].Start()) << clocks[i].LastError();
    }
    const std::string dir = m_dir.File("setups");
    const TCtlResult r = Run({"--port", clocks[0].DevicePath(), "--port", clocks[1].DevicePath(), "read", "-o", dir,
                              "--port", clocks[2].DevicePath()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    for (int i = 0; i < 3; ++i) {
        // "/dev/pts/7" -> "pts_7.hcs"
        std::string name = clocks[i].DevicePath().substr(5);
        for (char& c : name)
            if (c == '/') c = '_';
        CClockState state;
        ASSERT_EQ(LoadConfigFile(state, dir + "/" + name + ".hcs"), TLoadResult::Loaded) << name;
        EXPECT_TRUE(Same(*state.GetConfig(), SetupNumber(i + 1))) << name;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 3);
}

TEST_F(Fleet, EachLineNamesItsPortAndTheWorstStatusWins) {
    CSimClock clocks[2];
    for (auto& c : clocks) ASSERT_TRUE(c.Start()) << c.LastError();
    const std::string missing = m_dir.File("unplugged");
    const TCtlResult r = Run({"--port", clocks[0].DevicePath(), "--port", missing, "--port", clocks[1].DevicePath(),
                              "time", "get"});
    EXPECT_EQ(r.status, 1);
    const std::regex time(R"(\d+:\d+:\d+:\d+)");
    std::vector<std::string> ports;
    for (const auto& line : Lines(r.out)) {
        const std::size_t colon = line.find(": ");
        ASSERT_NE(colon, std::string::npos) << line;
        EXPECT_TRUE(std::regex_match(line.substr(colon + 2), time)) << line;
        ports.push_back(line.substr(0, colon));
    }
    std::sort(ports.begin(), ports.end());
    std::vector<std::string> expected{clocks[0].DevicePath(), clocks[1].DevicePath()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ports, expected);
    // The failing port's complaint carries its name, every line of it.
    ASSERT_FALSE(r.err.empty());
    for (const auto& line : Lines(r.err)) EXPECT_EQ(line.rfind(missing + ": ", 0), 0u) << line;
}

TEST_F(Fleet, APortCommandForOnePortRefusesSeveral) {
    const TCtlResult r = Run({"--port", "COM1", "--port", "COM2", "send", "v"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("send takes one --port"), std::string::npos) << r.err;
}

TEST_F(Fleet, VersionIsTheSameEverywhere) {
    const TCtlResult r = Run({"--version"});
    EXPECT_EQ(r.status, 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, std::regex(R"(tarvelctl (\d+(\.\d+)+)\n)"))) << r.out;
    CTempDir dir;
    const std::string out = dir.File("out");
    const std::string command = std::string(CLOCKSIM_PATH) + " --version > " + out;
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(out), "tarvel-clocksim " + m[1].str() + "\n");
}

TEST_F(Fleet, AMistypedCommandGetsTheNearestOne) {
    TCtlResult r = Run({"raed", "-o", "x.hcs"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown command 'raed'; did you mean 'read'?"), std::string::npos) << r.err;
    r = Run({"prob"});
    EXPECT_NE(r.err.find("did you mean 'probe'?"), std::string::npos) << r.err;
    // Nothing near: no guess.
    r = Run({"frobnicate"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("did you mean"), std::string::npos) << r.err;
}

TEST_F(Fleet, EveryHelpStatesTheExitStatuses) {
    for (const char* command : {"read", "write", "probe", "ports", "show"}) {
        const TCtlResult r = Run({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_NE(r.out.find("Exit status: 0 "), std::string::npos) << command << "\n" << r.out;
    }
    const TCtlResult r = Run({"--help"});
    EXPECT_NE(r.out.find("Exit status: 0 done, 1 failed, refused or cancelled, 2 usage error."), std::string::npos);
}

TEST_F(Fleet, QuietWriteShowsNoCountdown) {
    CSimClock clock;
    ASSERT_TRUE(clock.Start()) << clock.LastError();
    CClockState state;
    *state.GetConfig() = SetupNumber(9);
    const std::string file = m_dir.File("nine.hcs");
    SaveConfigFile(state, file);

    TCtlResult r = Run({"--port", clock.DevicePath(), "write", file, "--countdown", "1", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Countdown"), std::string::npos) << r.err;
    EXPECT_TRUE(Same(clock.GetEeprom(), SetupNumber(9)));

    // The clock holds this setup now: only --force sends it again.
    r = Run({"--port", clock.DevicePath(), "write", file, "--countdown", "1", "--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Countdown 1..."), std::string::npos) << r.err;
}

// With --json, several ports give one document: each port's own result or
// its error, under its name; a failed port fails the run.
TEST_F(Fleet, JsonForSeveralPortsIsOneDocument) {
    CSimClock clocks[2];
    for (auto& c : clocks) ASSERT_TRUE(c.Start()) << c.LastError();
    const std::string missing = m_dir.File("unplugged");
    const TCtlResult r = Run({"--port", clocks[0].DevicePath(), "--port", missing, "--port", clocks[1].DevicePath(),
                              "time", "get", "--json"});
    EXPECT_EQ(r.status, 1) << r.err;
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_EQ(doc["version"], 1);
    EXPECT_EQ(doc["command"], "time get");
    ASSERT_EQ(doc["ports"].size(), 3u) << r.out;
    for (const auto& c : clocks) {
        const auto& port = doc["ports"][c.DevicePath()];
        EXPECT_EQ(port["status"], 0) << r.out;
        EXPECT_EQ(port["result"]["command"], "time get") << r.out;
        EXPECT_TRUE(port["result"]["reply"].is_string()) << r.out;
        EXPECT_TRUE(port["error"].is_null()) << r.out;
    }
    const auto& failed = doc["ports"][missing];
    EXPECT_EQ(failed["status"], 1) << r.out;
    EXPECT_TRUE(failed["result"].is_null()) << r.out;
    ASSERT_TRUE(failed["error"].is_string()) << r.out;
    EXPECT_NE(failed["error"].get<std::string>().find(missing), std::string::npos) << r.out;
}

// SIGTERM to the tarvelctl serving several ports reaches each port's write,
// which ends after its step and says so.
TEST_F(Fleet, TermEndsTheWriteOnEveryPort) {
    CSimClock clocks[2];
    for (auto& c : clocks) ASSERT_TRUE(c.Start()) << c.LastError();
    CClockState state;
    *state.GetConfig() = SetupNumber(5);
    const std::string file = m_dir.File("five.hcs");
    SaveConfigFile(state, file);
    const pid_t pid = m_ctl.Start({"--port", clocks[0].DevicePath(), "--port", clocks[1].DevicePath(), "--model",
                                   "K201", "write", file, "--countdown", "30", "--no-backup"});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(
        m_ctl.WaitForErr(pid, {clocks[0].DevicePath() + ": Countdown 30", clocks[1].DevicePath() + ": Countdown 30"}));
    ::kill(pid, SIGTERM);
    const TCtlResult r = m_ctl.Finish(pid);
    EXPECT_EQ(r.status, 1) << r.err;
    for (const auto& c : clocks) {
        EXPECT_NE(r.err.find(c.DevicePath() + ": tarvelctl: Write cancelled: the setup was sent but not verified"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(Same(c.GetEeprom(), CSimClock::MakeFactorySetup()));
    }
}

// At a terminal each step is a line and the count runs in place on its
// stage's line; -q leaves only the result.
TEST_F(Fleet, AWriteAtATerminalShowsEachStepOnItsOwnLine) {
    CSimClock clock;
    ASSERT_TRUE(clock.Start()) << clock.LastError();
    CClockState state;
    *state.GetConfig() = SetupNumber(6);
    const std::string file = m_dir.File("six.hcs");
    SaveConfigFile(state, file);
    m_ctl.SetStderrTerminal(true);
    TCtlResult r = Run({"--port", clock.DevicePath(), "--model", "K201", "write", file, "--countdown", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.err),
              (std::vector<std::string>{
                  "Reading the clock's setup for a backup...", "Sending the setup to the clock...",
                  "Waiting for the clock to take the setup. Countdown 1...\r"
                  "Waiting for the clock to take the setup. Countdown 0...",
                  "Reading the setup back from the clock to verify it...",
                  "Waiting before storing the setup in the clock's EEPROM. Countdown 1...\r"
                  "Waiting before storing the setup in the clock's EEPROM. Countdown 0...",
                  "Storing the setup in the clock's EEPROM...",
                  "Waiting before resetting the clock. Countdown 1...\rWaiting before resetting the clock. Countdown 0...",
                  "Resetting the clock...", "The setup was written, verified and stored, and the clock reset."}));

    r = Run({"--port", clock.DevicePath(), "--model", "K201", "-q", "write", file, "--countdown", "1", "--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "The setup was written, verified and stored, and the clock reset.\n");
}

// The same device twice would find itself busy: it is refused at once.
TEST_F(Fleet, APortGivenTwiceIsRefusedAsADuplicate) {
    CSimClock clock;
    ASSERT_TRUE(clock.Start()) << clock.LastError();
    const std::string link = m_dir.File("clock-link");
    ASSERT_EQ(::symlink(clock.DevicePath().c_str(), link.c_str()), 0);
    const struct {
        std::vector<std::string> args;
        std::string said;
    } kCases[] = {
        {{"--port", clock.DevicePath(), "time", "get", "--port", clock.DevicePath()},
         "--port " + clock.DevicePath() + " is given twice"},
        {{"--port", clock.DevicePath(), "--port", link, "read", "-o", m_dir.File("setups")},
         "--port " + clock.DevicePath() + " and --port " + link + " are the same device"},
        {{"probe", "--port", link, "--port", clock.DevicePath()}, "are the same device"},
    };
    for (const auto& c : kCases) {
        const TCtlResult r = Run(c.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("busy"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(clock.GetCommandLog().empty());
}

TEST_F(Fleet, HelpAndDashCapitalVWorkAsTheirOptions) {
    const struct {
        std::vector<std::string> given, same;
    } kCases[] = {
        {{"help"}, {"--help"}},
        {{"help", "write"}, {"write", "--help"}},
        {{"-V"}, {"--version"}},
    };
    for (const auto& c : kCases) {
        const TCtlResult a = Run(c.given), b = Run(c.same);
        EXPECT_EQ(a.status, 0) << a.err;
        EXPECT_FALSE(a.out.empty());
        EXPECT_EQ(a.out, b.out);
    }
}

// A trace the disk cannot take is said once; the command still does its work.
TEST_F(Fleet, ATraceThatCannotBeWrittenIsSaidOnceAndTheReadGoesOn) {
    CSimClock clock;
    clock.SetEeprom(SetupNumber(7));
    ASSERT_TRUE(clock.Start()) << clock.LastError();
    const std::string file = m_dir.File("seven.hcs");
    m_ctl.SetFileSizeLimit(1);  // 512 bytes: the setup fits, the trace does not
    const TCtlResult r = Run({"--port", clock.DevicePath(), "--model", "K201", "--trace", m_dir.File("line.trace"), "read", "-o", file});
    EXPECT_EQ(r.status, 0) << r.err;
    CClockState state;
    ASSERT_EQ(LoadConfigFile(state, file), TLoadResult::Loaded);
    EXPECT_TRUE(Same(*state.GetConfig(), SetupNumber(7)));
    const std::string said = "cannot write the trace to " + m_dir.File("line.trace") + ": ";
    const std::size_t first = r.err.find(said);
    EXPECT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(said, first + 1), std::string::npos) << r.err;
}

}  // namespace
