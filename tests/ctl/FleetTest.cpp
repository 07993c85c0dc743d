// Several clocks from one tarvelctl: finding them (probe), serving several
// ports at once, and the command-line conventions scripts rely on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
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
    ~CSilentLine() {
        if (m_master >= 0) ::close(m_master);
    }
    const std::string& Path() const { return m_path; }

private:
    int m_master = -1;
    std::string m_path;
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
    CSilentLine silent;
    const std::string missing = m_dir.File("no-such-tty");
    const auto start = std::chrono::steady_clock::now();
    const TCtlResult r = Run({"--port", silent.Path(), "probe", "--port", missing});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("tarvelctl: " + missing + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no clock answered on " + silent.Path() + ", " + missing), std::string::npos) << r.err;
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

}  // namespace
