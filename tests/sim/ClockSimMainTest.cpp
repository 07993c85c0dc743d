#include <gtest/gtest.h>

#ifdef CLOCKSIM_PATH

#include <chrono>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <termios.h>
#include <unistd.h>

#include "CtlRunner.h"
#include "HexCodec.h"
#include "SetupItems.h"
#include "SimClock.h"
#include "SimLine.h"
#include "TestSupport.h"

extern char** environ;

namespace {

using namespace std::chrono;

// tarvel-clocksim as a child; its standard output on a pipe read as a line.
class CClockSimProcess {
public:
    explicit CClockSimProcess(std::vector<std::string> args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), CLOCKSIM_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, CLOCKSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
    }
    ~CClockSimProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
    }
    // Standard output up to its first line end or its end; blocks, but the
    // program prints at once or exits.
    std::string Output() {
        std::string text;
        char c;
        while (::read(m_out, &c, 1) == 1 && c != '\n') text += c;
        return text;
    }
    // The rest of standard output, to its end.
    std::string Rest() {
        std::string text;
        char buf[4096];
        for (ssize_t n; (n = ::read(m_out, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
        return text;
    }
    // Signals (unless 0) and returns the exit status; -1 when it did not end.
    int End(int sig) {
        if (sig) ::kill(m_pid, sig);
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

std::string SetupFile(const TClockConfig& config, char revision = 1) {
    std::string bytes{revision, 0, 0, 0};
    bytes += std::string("Halvern Clock State") + '\0';
    return bytes.append(reinterpret_cast<const char*>(ConfigBytes(config)), CLOCK_CONFIG_SIZE);
}

std::string RawText(const TClockConfig& config) {
    char buf[COMM_BUFFER_SIZE] = {};
    return std::string(buf, ConfigToRaw(buf, sizeof(buf), config));
}

TClockConfig Marked(std::uint8_t marker) {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.option23a = marker;
    return c;
}

}  // namespace

TEST(ClockSimMain, PrintsItsDeviceAnswersWithItsFaultsAndEndsOnSignals) {
    {
        CClockSimProcess sim({});
        const std::string path = sim.Output();
        ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
        CSimLine line(path);
        EXPECT_EQ(line.SendEchoed("v"), "v");
        EXPECT_EQ(line.Read(13), "12 Mar 1998\r\n");
        EXPECT_EQ(sim.End(SIGTERM), 0);
    }
    CClockSimProcess sim({"--old-rom", "--drop-echo", "2", "--verbose"});
    CSimLine line(sim.Output());
    ASSERT_TRUE(line.Write("vT"));
    // "T" is the second byte and loses its echo.
    EXPECT_EQ(line.Read(14, 1000), "v23 Oct 1996\r\n");
    EXPECT_EQ(line.ReadFor(100), "");
    EXPECT_EQ(sim.End(SIGINT), 0);
}

TEST(ClockSimMain, RunsAtTheOffsetGiven) {
    CClockSimProcess sim({"--offset", "-2.37", "--drift", "150"});
    CSimLine line(sim.Output());
    // Asked mid-second on the clock: an offset cut to whole seconds, or
    // rounded, names another second.
    auto host = [] { return duration<double>(system_clock::now().time_since_epoch()).count(); };
    const double now = host();
    std::this_thread::sleep_for(duration<double>(std::floor(now - 2.37) + 1.5 + 2.37 - now));
    ASSERT_EQ(line.SendEchoed("T"), "T");
    const double before = host();
    ASSERT_EQ(line.SendEchoed("U"), "U");
    const double after = host();
    int day = 0, hour = 0, minute = 0, second = 0;
    const std::string reply = line.Read(64, 2000);
    ASSERT_EQ(std::sscanf(reply.c_str(), "%d:%d:%d:%d", &day, &hour, &minute, &second), 4) << reply;
    const int told = (hour * 60 + minute) * 60 + second;
    auto ofDay = [](double t) { return static_cast<int>(std::fmod(std::floor(t - 2.37), 86400.0)); };
    EXPECT_TRUE(told == ofDay(before) || told == ofDay(after)) << reply;
    EXPECT_EQ(sim.End(SIGTERM), 0);
}

TEST(ClockSimMain, StartsFromASetupFileAndKeepsStoredSetups) {
    CTempDir dir;
    const std::string in = dir.File("start.hcs"), out = dir.File("kept.hcs");
    WriteWholeFile(in, SetupFile(Marked(0x11)));
    CClockSimProcess sim({"--eeprom", in, "--save", out});
    CSimLine line(sim.Output());
    EXPECT_EQ(line.SendEchoed("1,K202XT"), "1,K202XT");
    EXPECT_EQ(line.Read(RAW_TEXT_SIZE), RawText(Marked(0x11)));

    EXPECT_EQ(line.SendEchoed("1,K202XR"), "1,K202XR");
    ASSERT_TRUE(line.Write(RawText(Marked(0x22))));
    line.ReadFor(100);
    EXPECT_EQ(line.SendEchoed("1,K202XS"), "1,K202XS");
    for (int i = 0; i < 300 && ReadWholeFile(out) != SetupFile(Marked(0x22)); ++i)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(ReadWholeFile(out), SetupFile(Marked(0x22)));

    // Stored setups are saved at exit too, over whatever the file held.
    EXPECT_EQ(line.SendEchoed("1,K202XO"), "1,K202XO");
    WriteWholeFile(out, "old contents");
    EXPECT_EQ(sim.End(SIGTERM), 0);
    EXPECT_EQ(ReadWholeFile(out), SetupFile(Marked(0x22)));
    EXPECT_EQ(ReadWholeFile(in), SetupFile(Marked(0x11)));
}

TEST(ClockSimMain, ExitStatusForHelpUsageErrorsAndBadSetupFiles) {
    CClockSimProcess help({"--help"});
    EXPECT_EQ(help.Output(), "Usage: tarvel-clocksim [options]");
    EXPECT_EQ(help.End(0), 0);
    for (const char* bad : {"--bogus", "--slow=5", "--drop-echo", "--eeprom", "--offset", "--list"}) {
        CClockSimProcess sim({bad});
        EXPECT_EQ(sim.Output(), "") << bad;
        EXPECT_EQ(sim.End(0), 2) << bad;
    }
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--offset", "1e9"}, {"--offset", "nan"},
                                              {"--offset", "0.5s"}, {"--drift", "20000"}, {"--drift", "x"},
                                              {"--list", "ports"}}) {
        CClockSimProcess sim(bad);
        EXPECT_EQ(sim.Output(), "") << bad[0] << " " << bad[1];
        EXPECT_EQ(sim.End(0), 2) << bad[0] << " " << bad[1];
    }

    CTempDir dir;
    std::string wrongSignature = SetupFile(Marked(1));
    wrongSignature[5] = 'X';
    WriteWholeFile(dir.File("sig.hcs"), wrongSignature);
    WriteWholeFile(dir.File("short.hcs"), SetupFile(Marked(1)).substr(0, 100));
    WriteWholeFile(dir.File("rev.hcs"), SetupFile(Marked(1), 7));
    for (const char* name : {"missing.hcs", "sig.hcs", "short.hcs", "rev.hcs"}) {
        CClockSimProcess sim({"--eeprom", dir.File(name)});
        EXPECT_EQ(sim.Output(), "") << name;
        EXPECT_EQ(sim.End(0), 1) << name;
    }
}

TEST(ClockSimMain, StrictHearsOnlyTheRateOfItsSetup) {
    CTempDir dir;
    TClockConfig fast = CSimClock::MakeFactorySetup();
    fast.mainBaud = 4;  // 19200
    WriteWholeFile(dir.File("fast.hcs"), SetupFile(fast));
    CClockSimProcess sim({"--strict", "--eeprom", dir.File("fast.hcs")});
    const std::string path = sim.Output();
    CSimLine line;
    ASSERT_TRUE(line.Open(path, B19200));
    EXPECT_EQ(line.SendEchoed("v"), "v");
    EXPECT_EQ(line.Read(13), "12 Mar 1998\r\n");
    ASSERT_TRUE(line.Open(path, B9600));
    ASSERT_TRUE(line.Write("v"));
    EXPECT_EQ(line.ReadFor(300), "");
    EXPECT_EQ(sim.End(SIGTERM), 0);
}

TEST(ClockSimMain, ListensOnTcpPrintsThePortNameAndKeepsItsFaults) {
    CClockSimProcess sim({"--listen", "127.0.0.1:0", "--old-rom", "--verbose"});
    const std::string name = sim.Output();
    ASSERT_EQ(name.rfind("tcp://127.0.0.1:", 0), 0u) << name;
    EXPECT_NE(name, "tcp://127.0.0.1:0");
    CSimLine line;
    ASSERT_TRUE(line.Connect(name.substr(6)));
    EXPECT_EQ(line.SendEchoed("v"), "v");
    EXPECT_EQ(line.Read(13), CSimClock::OLD_ROM_DATE);
    line.Close();
    EXPECT_EQ(sim.End(SIGTERM), 0);

    // The port is free again once the clock has ended.
    CClockSimProcess again({"--listen", name.substr(6)});
    EXPECT_EQ(again.Output(), name);
    CClockSimProcess clash({"--listen", name.substr(6)});
    EXPECT_EQ(clash.Output(), "");
    EXPECT_EQ(clash.End(0), 1);
    EXPECT_EQ(again.End(SIGINT), 0);

    for (const char* bad : {"7000", ":7000", "localhost:", "localhost:65536", "::1:7000", "[::1:7000", "h:-1"}) {
        CClockSimProcess usage({"--listen", bad});
        EXPECT_EQ(usage.Output(), "") << bad;
        EXPECT_EQ(usage.End(0), 2) << bad;
    }
}

// The simulated clock keeps its own lists on purpose, as a peer that must not
// share the program's mistakes; they must still name what the program sends.
TEST(ClockSimMain, ListsTheSameModelsAndCommandsAsTarvelctl) {
    CTempDir dir;
    CCtlRunner ctl(dir.Path());
    for (const char* what : {"models", "commands"}) {
        CClockSimProcess sim({"--list", what});
        const std::string own = sim.Rest();
        EXPECT_EQ(sim.End(0), 0) << what;
        const TCtlResult program = ctl.Run({"--list", what});
        EXPECT_EQ(program.status, 0) << what << ": " << program.err;
        EXPECT_NE(own, "") << what;
        EXPECT_EQ(own, program.out) << what;
    }
}

// The clock's main port runs at the rate its setup names by the choices the
// program offers for it (setup item 3), and at none for a byte beyond them.
TEST(ClockSimMain, RunsAtTheRatesTheProgramOffers) {
    constexpr int kMainBaudItem = 3;
    std::vector<std::string> rates;
    ASSERT_TRUE(GetChoiceList(kMainBaudItem, rates));
    TClockConfig config = CSimClock::MakeFactorySetup();
    for (std::size_t i = 0; i <= rates.size(); ++i) {
        config.mainBaud = static_cast<std::uint8_t>(i);
        EXPECT_EQ(CSimMemories::RateOf(config), i < rates.size() ? std::stoul(rates[i]) : 0u) << i;
    }
}

#endif  // CLOCKSIM_PATH
