#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "HexCodec.h"
#include "SimClock.h"
#include "SimLine.h"

namespace {

using namespace std::chrono;

std::string RawText(const TClockConfig& config) {
    char buf[COMM_BUFFER_SIZE] = {};
    return std::string(buf, ConfigToRaw(buf, sizeof(buf), config));
}

// True when the peer closes the connection within the time given.
// What the server said before it hung up on fd; "(still open)" when it did not.
std::string SaidBeforeHangUp(int fd, int timeoutMs) {
    std::string said;
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, timeoutMs) > 0;) {
        char buf[256];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return said;
        said.append(buf, static_cast<std::size_t>(n));
    }
    return "(still open)";
}

class SimClockListenTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.SetClientHandler([this](const std::string& text) {
            std::lock_guard lock(mutex);
            events.push_back(text);
            cv.notify_all();
        });
        ASSERT_TRUE(sim.Listen("127.0.0.1", 0)) << sim.LastError();
        address = sim.ListenAddress();
    }
    // Waits (generously) until the clock has said something containing text
    // the given number of times.
    bool Said(const std::string& text, int times = 1) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, seconds(20), [&] {
            int seen = 0;
            for (const std::string& e : events) seen += e.find(text) != std::string::npos;
            return seen >= times;
        });
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> events;
    CSimClock sim;  // last, so it stops before what its handler touches goes
    std::string address;
};

}  // namespace

TEST_F(SimClockListenTest, ServesOneClientAtATimeOnTheReportedPort) {
    ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
    EXPECT_NE(address, "127.0.0.1:0");
    EXPECT_EQ(sim.DevicePath(), "");

    CSimLine first;
    ASSERT_TRUE(first.Connect(address));
    EXPECT_EQ(first.SendEchoed("1,K202XT"), "1,K202XT");
    EXPECT_EQ(first.Read(RAW_TEXT_SIZE), RawText(sim.GetActive()));

    // A second program is turned away, told why as a terminal server tells
    // it; the first keeps its clock.
    CSimLine second;
    ASSERT_TRUE(second.Connect(address));
    EXPECT_EQ(SaidBeforeHangUp(second.Fd(), 20000), "Port already in use\r\n");
    EXPECT_TRUE(Said("turned away"));
    EXPECT_EQ(first.SendEchoed("v"), "v");
    EXPECT_EQ(first.Read(13), CSimClock::ROM_DATE);

    first.Close();
    ASSERT_TRUE(Said("left"));
    CSimLine third;
    ASSERT_TRUE(third.Connect(address));
    EXPECT_EQ(third.SendEchoed("v"), "v");
    EXPECT_EQ(third.Read(13), CSimClock::ROM_DATE);
}

// TCP has no break: a new client is what clears a half-sent command or
// records a program left behind when it went away.
TEST_F(SimClockListenTest, ANewClientFindsTheClockReadyForACommand) {
    sim.SetCommandTimeoutMs(600000);  // only the new client may clear them
    const TClockConfig before = sim.GetActive();
    {
        CSimLine quitter;
        ASSERT_TRUE(quitter.Connect(address));
        EXPECT_EQ(quitter.SendEchoed("1,K202XR"), "1,K202XR");
        ASSERT_TRUE(quitter.Write(RawText(before).substr(0, 100)));
    }
    ASSERT_TRUE(Said("left"));
    CSimLine next;
    ASSERT_TRUE(next.Connect(address));
    EXPECT_EQ(next.SendEchoed("1,K2"), "1,K2");
    next.Close();
    ASSERT_TRUE(Said("left", 2));
    ASSERT_TRUE(next.Connect(address));
    EXPECT_EQ(next.SendEchoed("v"), "v");
    EXPECT_EQ(next.Read(13), CSimClock::ROM_DATE);
    EXPECT_EQ(sim.GetCommandLog(), (std::vector<std::string>{"1,K202XR", "v"}));
}

TEST_F(SimClockListenTest, FaultSwitchesApplyAndRepliesLeaveAtNineThousandSixHundredBaud) {
    TSimFaults faults;
    faults.realisticPace = true;
    faults.wrongEcho = true;
    sim.SetFaults(faults);
    CSimLine line;
    ASSERT_TRUE(line.Connect(address));
    EXPECT_EQ(line.SendEchoed("1,K202XT"), "0-J313YU");
    const auto start = steady_clock::now();
    EXPECT_EQ(line.Read(RAW_TEXT_SIZE, 20000), RawText(sim.GetActive()));
    // Ten bits a character: 377 characters take at least 392 ms.
    EXPECT_GE(steady_clock::now() - start, milliseconds(RAW_TEXT_SIZE * 10 * 1000 / 9600 - 20));
}

TEST_F(SimClockListenTest, AClientResettingMidReplyLeavesTheClockServing) {
    TSimFaults faults;
    faults.realisticPace = true;
    sim.SetFaults(faults);
    {
        CSimLine rude;
        ASSERT_TRUE(rude.Connect(address));
        EXPECT_EQ(rude.SendEchoed("1,K202XT"), "1,K202XT");
        EXPECT_EQ(rude.Read(10).size(), 10u);
        // Closing with unread data and no linger sends a reset.
        const linger hard{1, 0};
        ASSERT_EQ(::setsockopt(rude.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard)), 0);
    }
    ASSERT_TRUE(Said("lost") || Said("left"));
    CSimLine line;
    ASSERT_TRUE(line.Connect(address));
    EXPECT_EQ(line.SendEchoed("1,K202XT"), "1,K202XT");
    EXPECT_EQ(line.Read(RAW_TEXT_SIZE, 20000), RawText(sim.GetActive()));
}

TEST(SimClockListen, AnAddressInUseOrUnknownIsRefusedWithAReason) {
    CSimClock holder;
    ASSERT_TRUE(holder.Listen("127.0.0.1", 0)) << holder.LastError();
    const std::string taken = holder.ListenAddress();
    const auto port = static_cast<std::uint16_t>(std::stoi(taken.substr(taken.rfind(':') + 1)));

    CSimClock second;
    EXPECT_FALSE(second.Listen("127.0.0.1", port));
    EXPECT_NE(second.LastError().find(taken), std::string::npos) << second.LastError();
    EXPECT_EQ(second.ListenAddress(), "");
    EXPECT_FALSE(second.Listen("no-such-host.invalid", 0));
    EXPECT_NE(second.LastError().find("no-such-host.invalid"), std::string::npos);
    EXPECT_TRUE(second.Listen("127.0.0.1", 0)) << second.LastError();
}
