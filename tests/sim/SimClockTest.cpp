#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

#include "HexCodec.h"
#include "Profile.h"
#include "SimClock.h"
#include "SimLine.h"

namespace {

using namespace std::chrono;

std::string RawText(const TClockConfig& config) {
    char buf[COMM_BUFFER_SIZE] = {};
    return std::string(buf, ConfigToRaw(buf, sizeof(buf), config));
}

TClockConfig ChangedSetup() {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.mainBaud = 4;
    SetBE16(c.pulseWidth, 250);
    c.option23b = 0x5A;
    return c;
}

bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, CLOCK_CONFIG_SIZE) == 0; }

class SimClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.SetEepromStoredHandler([this](const TClockConfig& c) {
            stored = c;
            ++stores;
        });
        ASSERT_TRUE(sim.Start()) << sim.LastError();
        ASSERT_TRUE(line.Open(sim.DevicePath()));
    }
    // Writes bytes and waits (generously) until the clock has dealt with them,
    // so what it answers at once is on the line and its state is settled.
    void Sent(const std::string& bytes) {
        const std::uint64_t before = sim.BytesAnswered();
        ASSERT_TRUE(line.Write(bytes));
        ASSERT_TRUE(sim.WaitAnswered(before + bytes.size(), 10000));
    }
    // A command with its echo checked, as the program sends it.
    void Command(const std::string& text) { ASSERT_EQ(line.SendEchoed(text), text); }
    void SetFault(void (*change)(TSimFaults&)) {
        TSimFaults f;
        change(f);
        sim.SetFaults(f);
    }

    CSimClock sim;
    CSimLine line;
    TClockConfig stored{};
    int stores = 0;  // written by the serving thread; read after Stop()
};

}  // namespace

TEST_F(SimClockTest, EchoesCommandsAndSendsTheActiveSetupAsRecords) {
    sim.SetActive(ChangedSetup());
    Command("1,K202XT");
    EXPECT_EQ(line.Read(RAW_TEXT_SIZE), RawText(ChangedSetup()));
    EXPECT_EQ(line.ReadFor(100), "");
    EXPECT_EQ(sim.GetCommandLog(), std::vector<std::string>{"1,K202XT"});
}

TEST_F(SimClockTest, TakesRecordsInPiecesAndStoresThemOnRequest) {
    const TClockConfig factory = sim.GetEeprom();
    const std::string text = RawText(ChangedSetup());
    Command("1,K205XR");
    // Not echoed, and taken however it is cut up.
    Sent(text.substr(0, 100));
    Sent(text.substr(100, 1));
    Sent(text.substr(101));
    EXPECT_EQ(line.ReadFor(20), "");
    EXPECT_TRUE(Same(sim.GetActive(), ChangedSetup()));
    EXPECT_TRUE(Same(sim.GetEeprom(), factory));

    Command("1,K205XS");
    EXPECT_EQ(line.ReadFor(100), "");
    EXPECT_TRUE(Same(sim.GetEeprom(), ChangedSetup()));
    sim.Stop();
    EXPECT_EQ(stores, 1);
    EXPECT_TRUE(Same(stored, ChangedSetup()));
}

TEST_F(SimClockTest, BadOrIncompleteRecordsLeaveActiveMemoryAlone) {
    const TClockConfig before = sim.GetActive();
    std::string text = RawText(ChangedSetup());
    text[45 + 12] = text[45 + 12] == 'A' ? 'B' : 'A';  // checksum now wrong
    Command("1,K202XR");
    ASSERT_TRUE(line.Write(text));
    EXPECT_EQ(line.Read(1), "?");
    EXPECT_TRUE(Same(sim.GetActive(), before));

    // Records cut short: after the pause the clock gives up and takes
    // commands again.
    sim.SetCommandTimeoutMs(150);
    Command("1,K202XR");
    ASSERT_TRUE(line.Write(RawText(ChangedSetup()).substr(0, 200)));
    EXPECT_EQ(line.Read(1, 2000), "?");
    EXPECT_TRUE(Same(sim.GetActive(), before));
    Command("v");
    EXPECT_EQ(line.Read(13), CSimClock::ROM_DATE);
}

TEST_F(SimClockTest, LoadAndResetCopyEepromIntoActiveOthersDoNothing) {
    sim.SetEeprom(ChangedSetup());
    Command("1,K203XO");
    line.ReadFor(50);
    EXPECT_TRUE(Same(sim.GetActive(), ChangedSetup()));

    sim.SetActive(CSimClock::MakeFactorySetup());
    Command("0,0,K202XZ");
    Command("b0");
    EXPECT_EQ(line.ReadFor(100), "");
    EXPECT_TRUE(Same(sim.GetActive(), CSimClock::MakeFactorySetup()));
    Command("1,K204XX");
    line.ReadFor(50);
    EXPECT_TRUE(Same(sim.GetActive(), ChangedSetup()));
}

TEST_F(SimClockTest, RefusesUnknownTextThenServesAGoodCommand) {
    // A byte that starts no command is echoed and refused at once.
    ASSERT_TRUE(line.Write("hello"));
    EXPECT_EQ(line.Read(10), "h?e?l?l?o?");
    EXPECT_EQ(line.SendEchoed("1,K202XQ"), "1,K202XQ");
    EXPECT_EQ(line.Read(1), "?");
    Command("1,K202XT");
    EXPECT_EQ(line.Read(RAW_TEXT_SIZE), RawText(sim.GetActive()));
}

TEST_F(SimClockTest, CommandLogKeepsOnlyTheRecentPast) {
    std::string many;
    for (int i = 0; i < 1200; ++i) many += "b0";
    ASSERT_TRUE(line.Write(many + "v"));
    ASSERT_EQ(line.Read(many.size() + 1 + 13).size(), many.size() + 1 + 13);  // echoes and the ROM date
    const std::vector<std::string> log = sim.GetCommandLog();
    ASSERT_EQ(log.size(), 1000u);
    EXPECT_EQ(log.front(), "b0");
    EXPECT_EQ(log.back(), "v");
}

TEST_F(SimClockTest, DropsAPartialCommandLeftAlone) {
    sim.SetCommandTimeoutMs(100);
    Command("1,K202X");
    std::this_thread::sleep_for(milliseconds(400));
    Command("O");  // too late to complete "XO"; alone it means nothing
    EXPECT_EQ(line.Read(1), "?");
    EXPECT_TRUE(sim.GetCommandLog().empty());
}

// The program may take its largest CharDelay, and its echo wait, over each
// byte; the clock waits for the rest of the command at least that long.
TEST_F(SimClockTest, TakesACommandSentAsSlowlyAsTheProgramMay) {
    Command("T");
    std::this_thread::sleep_for(milliseconds(MAX_PROFILE_DELAY_MS + 500));
    Command("U");
    std::string reply;
    while (reply.empty() || reply.back() != '\n') {
        const std::string c = line.Read(1);
        if (c.empty()) break;
        reply += c;
    }
    int day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(std::sscanf(reply.c_str(), "%d:%d:%d:%d\r\n", &day, &hour, &minute, &second), 4) << reply;
    EXPECT_EQ(sim.GetCommandLog(), std::vector<std::string>{"TU"});
}

// A pseudo-terminal does not show the break the program sends before a
// command; the quiet line after it drops what came before, as the break
// would, with no '?'. A byte repeated at once is a resend, still refused.
TEST_F(SimClockTest, ACommandAfterAPauseDropsAHalfCommandOrRecordsBeforeIt) {
    const std::string records = RawText(ChangedSetup()).substr(0, 90);  // two whole records
    const std::pair<std::string, std::string> halves[] = {
        {"1,K202X", ""}, {"1", ""}, {"1,K202XR", ""}, {"1,K202XR", records}};
    for (const auto& [command, recordsSent] : halves) {
        sim.ClearCommandLog();
        Command(command);
        Sent(recordsSent);
        // Only a gap made, no event awaited: the clock took the half above.
        std::this_thread::sleep_for(milliseconds(CSimClock::BREAK_PAUSE_MS + 100));
        Command("1,K202XT");
        EXPECT_EQ(line.Read(RAW_TEXT_SIZE), RawText(sim.GetActive())) << command;
        EXPECT_EQ(line.ReadFor(50), "") << command;
        ASSERT_FALSE(sim.GetCommandLog().empty());
        EXPECT_EQ(sim.GetCommandLog().back(), "1,K202XT") << command;
    }

    Sent("1,K22");
    EXPECT_EQ(line.Read(6), "1,K22?");
}

TEST_F(SimClockTest, AnswersItsTimeAndTakesAValidNewOne) {
    auto askTime = [&](int& day, int& seconds) {
        Command("TU");
        const std::string reply = line.Read(64, 500);
        int hour = 0, minute = 0, second = 0;
        char cr = 0, lf = 0;
        ASSERT_EQ(std::sscanf(reply.c_str(), "%d:%d:%d:%d%c%c", &day, &hour, &minute, &second, &cr, &lf), 6)
            << reply;
        EXPECT_TRUE(cr == '\r' && lf == '\n') << reply;
        seconds = (hour * 60 + minute) * 60 + second;
    };
    int day = 0, seconds = 0;
    askTime(day, seconds);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(day, utc.tm_yday + 1);
    EXPECT_LE(std::abs(seconds - ((utc.tm_hour * 60 + utc.tm_min) * 60 + utc.tm_sec)), 5);

    Command("2001:02:03:04:05TS");
    EXPECT_EQ(line.ReadFor(50), "");
    askTime(day, seconds);
    EXPECT_EQ(day, 34);
    EXPECT_GE(seconds, 4 * 3600 + 5 * 60);
    EXPECT_LT(seconds, 4 * 3600 + 6 * 60 + 60);  // a minute of slack

    // 30 February and month 13 are refused and change nothing.
    Command("2001:02:30:04:05TS");
    EXPECT_EQ(line.Read(1), "?");
    Command("2001:13:01:04:05TS");
    EXPECT_EQ(line.Read(1), "?");
    EXPECT_LT(std::llabs(static_cast<long long>(sim.GetClockTime()) - 981173100LL), 120);
}

double HostNow() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

TEST_F(SimClockTest, DriftsAtItsRateFromTheOffsetReachedAndIsSetExactly) {
    sim.SetTimeOffset(0.5);
    sim.SetDriftPpm(1000);
    const double now = HostNow();
    EXPECT_NEAR(sim.TimeOffsetAt(now + 1000) - sim.TimeOffsetAt(now), 1.0, 1e-6);
    EXPECT_NEAR(sim.TimeOffsetAt(now), 0.5, 0.01);
    // A new rate starts from the offset reached; setting the time keeps the rate.
    sim.SetDriftPpm(-200);
    EXPECT_NEAR(sim.TimeOffsetAt(now + 1000) - sim.TimeOffsetAt(now), -0.2, 1e-6);
    EXPECT_NEAR(sim.TimeOffsetAt(now), 0.5, 0.01);
    sim.SetClockTime(981173100);
    EXPECT_NEAR(sim.TimeOffsetAt(now) + now, 981173100.0, 0.01);
    EXPECT_NEAR(sim.TimeOffsetAt(now + 1000) - sim.TimeOffsetAt(now), -0.2, 1e-6);
}

TEST_F(SimClockTest, FaultsOfTheEcho) {
    sim.SetEeprom(ChangedSetup());
    SetFault([](TSimFaults& f) { f.noEcho = true; });
    Sent("1,K202XO");
    EXPECT_EQ(line.ReadFor(20), "");
    // Carried out all the same; only the echo is missing.
    EXPECT_TRUE(Same(sim.GetActive(), ChangedSetup()));

    SetFault([](TSimFaults& f) { f.wrongEcho = true; });
    const std::string echoes = line.SendEchoed("TU", 500);
    ASSERT_EQ(echoes.size(), 2u);
    EXPECT_TRUE(echoes[0] != 'T' && echoes[1] != 'U') << echoes;
    line.ReadFor(100);

    SetFault([](TSimFaults& f) { f.dropEchoEvery = 3; });
    Sent("1,K202XO");
    EXPECT_EQ(line.ReadFor(20), "1,20XO");  // bytes 3 and 6 lose their echo
}

TEST_F(SimClockTest, FaultsOfTheAnswers) {
    sim.SetEeprom(ChangedSetup());
    SetFault([](TSimFaults& f) { f.answerQuestion = true; });
    Command("1,K202XO");
    EXPECT_EQ(line.Read(1), "?");
    Command("1,K202XT");
    EXPECT_EQ(line.ReadFor(150), "?");
    EXPECT_FALSE(Same(sim.GetActive(), ChangedSetup()));

    SetFault([](TSimFaults& f) { f.badDigit = true; });
    Command("1,K202XT");
    const std::string text = line.Read(RAW_TEXT_SIZE);
    EXPECT_TRUE(HasAllRecords(text.data(), text.size()) && CheckHeader(text.data(), text.size()));
    EXPECT_FALSE(VerifyChecksums(text.data(), text.size()));

    SetFault([](TSimFaults& f) { f.oldRom = true; });
    Command("v");
    EXPECT_EQ(line.Read(13), "23 Oct 1996\r\n");
    EXPECT_EQ(line.ReadFor(50), "");

    SetFault([](TSimFaults& f) { f.differAfterWrite = true; });
    Command("1,K202XR");
    ASSERT_TRUE(line.Write(RawText(ChangedSetup())));
    line.ReadFor(150);
    int differing = 0;
    const TClockConfig got = sim.GetActive(), want = ChangedSetup();
    for (std::size_t i = 0; i < CLOCK_CONFIG_SIZE; ++i) differing += ConfigBytes(got)[i] != ConfigBytes(want)[i];
    EXPECT_EQ(differing, 1);
}

TEST_F(SimClockTest, SlowAnswersComeAfterTheDelayButEchoesDoNot) {
    SetFault([](TSimFaults& f) { f.replyDelayMs = 1500; });
    const auto start = steady_clock::now();
    Command("v");
    const auto echoed = steady_clock::now();
    EXPECT_EQ(line.Read(13, 4000), CSimClock::ROM_DATE);
    EXPECT_GE(steady_clock::now() - start, milliseconds(1500));
    EXPECT_LT(echoed - start, milliseconds(1500));
}

TEST_F(SimClockTest, LineNoiseIsStrayBytesAroundIntactRecordsAndRepeatable) {
    auto noisyRead = [&] {
        SetFault([](TSimFaults& f) {
            f.lineNoise = true;
            f.noiseSeed = 7;
        });
        Command("1,K202XT");
        return line.ReadFor(300);
    };
    const std::string first = noisyRead();
    std::string clean;
    for (char c : first)
        if (static_cast<unsigned char>(c) < 0x80) clean += c;
    EXPECT_EQ(clean, RawText(sim.GetActive()));
    EXPECT_GT(first.size(), clean.size());
    EXPECT_EQ(noisyRead(), first);
}

TEST_F(SimClockTest, RealisticPaceFollowsTheBaudRateOfTheDevice) {
    ASSERT_TRUE(line.Open(sim.DevicePath(), B9600));
    SetFault([](TSimFaults& f) { f.realisticPace = true; });
    Command("1,K202XT");
    const auto start = steady_clock::now();
    EXPECT_EQ(line.Read(RAW_TEXT_SIZE, 5000), RawText(sim.GetActive()));
    // 377 characters of 10 bits at 9600 baud take about 393 ms.
    EXPECT_GE(steady_clock::now() - start, milliseconds(350));
}

TEST_F(SimClockTest, AStrictClockHearsOnlyItsOwnRateWhichItsResetChanges) {
    SetFault([](TSimFaults& f) { f.strictRate = true; });
    EXPECT_EQ(sim.OwnRate(), 9600u);
    ASSERT_TRUE(line.Open(sim.DevicePath(), B9600));
    // A setup at 19200 baud is taken and stored at 9600; the reset moves the clock.
    Command("1,K202XR");
    Sent(RawText(ChangedSetup()));
    Command("1,K202XS");
    EXPECT_EQ(sim.OwnRate(), 9600u);
    Command("1,K202XX");
    EXPECT_EQ(sim.OwnRate(), 19200u);
    ASSERT_TRUE(line.Open(sim.DevicePath(), B19200));
    Command("v");
    EXPECT_EQ(line.Read(13), CSimClock::ROM_DATE);
    // At any other rate it hears only noise and takes none of it.
    ASSERT_TRUE(line.Open(sim.DevicePath(), B9600));
    Sent("v");
    EXPECT_EQ(line.ReadFor(50), "");
    EXPECT_EQ(sim.GetCommandLog().back(), "v");
    EXPECT_EQ(sim.GetCommandLog().size(), 4u);
}

TEST_F(SimClockTest, AClientCanCloseAndReopenTheDevice) {
    // Exclusive mode must end with the client's close, as on a real port;
    // our own descriptor would otherwise keep it and lock out all but root.
    ASSERT_EQ(::ioctl(line.Fd(), TIOCEXCL), 0);
    line.Close();
    ASSERT_TRUE(line.Open(sim.DevicePath()));
    int exclusive = 1;
    const auto deadline = steady_clock::now() + seconds(3);
    while (exclusive && steady_clock::now() < deadline) {
        ASSERT_EQ(::ioctl(line.Fd(), TIOCGEXCL, &exclusive), 0);
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(exclusive, 0);
    Command("v");
    EXPECT_EQ(line.Read(13), CSimClock::ROM_DATE);
}

TEST_F(SimClockTest, StopIsPromptHangsUpAndCanStartAgain) {
    SetFault([](TSimFaults& f) { f.replyDelayMs = 60000; });
    Command("v");
    ASSERT_TRUE(line.Write("1,K2"));
    const auto start = steady_clock::now();
    sim.Stop();
    EXPECT_LT(steady_clock::now() - start, seconds(5));
    EXPECT_TRUE(sim.DevicePath().empty());
    pollfd p{line.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);

    sim.SetFaults(TSimFaults{});
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(line.Open(sim.DevicePath()));
    Command("v");
    EXPECT_EQ(line.Read(13), CSimClock::ROM_DATE);
}
