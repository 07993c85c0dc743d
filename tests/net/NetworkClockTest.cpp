// Clocks over the network, end to end: tarvelctl reads, writes and reads back
// a clock behind the real ser2net (RFC 2217 and raw TCP) and behind
// tarvel-clocksim's own TCP server; a server killed mid-write fails the write
// with a message naming it and changes no file.
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "NetSupport.h"

namespace {

using TAccepter = CSer2net::TAccepter;

TEST_F(NetClockTest, ReadEditWriteAndReadBackThroughSer2netRfc2217) {
    ServeThroughSer2net(TAccepter::Rfc2217);
    if (IsSkipped()) return;
    EXPECT_EQ(m_server.PortName().rfind("rfc2217://127.0.0.1:", 0), 0u);
    RoundTrip(m_server.PortName());
}

TEST_F(NetClockTest, ReadEditWriteAndReadBackThroughSer2netRawTcp) {
    ServeThroughSer2net(TAccepter::Raw);
    if (IsSkipped()) return;
    RoundTrip(m_server.PortName());
}

TEST_F(NetClockTest, ReadEditWriteAndReadBackFromTheSimulatedClockOnTcp) {
    std::string reason;
    ASSERT_TRUE(m_clock.Start({"--listen", "127.0.0.1:0", "--save", EepromFile()}, reason)) << reason;
    ASSERT_EQ(m_clock.Port().rfind("tcp://127.0.0.1:", 0), 0u) << m_clock.Port();
    RoundTrip(m_clock.Port());
}

// A terminal server serving another client turns a new one away with a word:
// tarvelctl says it in the server's words, and asks again a moment later, so
// the next command over a slow link gets through while the close of the one
// before is still on its way to the server.
TEST_F(NetClockTest, ATerminalServerThatTurnsTheConnectionAwayIsAskedAgainAndQuoted) {
    std::string reason;
    ASSERT_TRUE(m_clock.Start({"--listen", "127.0.0.1:0"}, reason)) << reason;
    const std::string server = m_clock.Port().substr(std::string("tcp://").size());
    CClockSimChild link;
    ASSERT_TRUE(link.Start({"127.0.0.1:0", server, "150"}, reason, LINK_DELAY_PATH)) << reason;
    for (int i = 0; i < 3; ++i) {
        const TCtlResult r = m_ctl.Run({"--port", "tcp://" + link.Port(), "send", "v"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("v12 Mar 1998"), std::string::npos) << r.out;
    }
    link.Stop();

    // Held by another program the while: refused, in the server's words.
    const std::size_t colon = server.rfind(':');
    addrinfo* found = nullptr;
    ASSERT_EQ(::getaddrinfo(server.substr(0, colon).c_str(), server.substr(colon + 1).c_str(), nullptr, &found), 0);
    const int holder = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(holder, found->ai_addr, found->ai_addrlen), 0);
    ::freeaddrinfo(found);
    // The clock has taken it once it answers.
    ASSERT_EQ(::send(holder, "v", 1, MSG_NOSIGNAL), 1);
    pollfd answered{holder, POLLIN, 0};
    ASSERT_EQ(::poll(&answered, 1, 20000), 1);
    const TCtlResult r = m_ctl.Run({"--port", m_clock.Port(), "send", "v"});
    ::close(holder);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the terminal server turned the connection away: Port already in use"), std::string::npos)
        << r.err;
}

// Killed while the write waits between sending the setup and reading it back:
// the rest of the write meets a dead connection.
TEST_F(NetClockTest, Ser2netKilledDuringAWriteFailsItNamingTheServerAndChangesNoFile) {
    for (TAccepter accepter : {TAccepter::Rfc2217, TAccepter::Raw}) {
        ServeThroughSer2net(accepter);
        if (IsSkipped()) return;
        SCOPED_TRACE(m_server.PortName());
        const std::string file = File(accepter == TAccepter::Raw ? "raw.hcs" : "rfc2217.hcs");
        ASSERT_EQ(m_ctl.Run({"new", file}).status, 0);
        ASSERT_EQ(m_ctl.Run({"set", file, "18=424"}).status, 0);
        const std::string setup = FileDigest(file), profile = FileDigest(m_ctl.ProfilePath());
        const std::string eeprom = FileDigest(EepromFile());

        const pid_t pid = m_ctl.Start({"--port", m_server.PortName(), "write", file, "--countdown", "3"});
        ASSERT_GT(pid, 0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (ReadWholeFile(m_dir.Path() + "/.ctl-err").find("Countdown 3") == std::string::npos &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m_server.Kill();
        const TCtlResult r = m_ctl.Finish(pid);

        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("tarvelctl: "), std::string::npos) << r.err;
        // Said after the countdown, not only in the notice at open.
        const std::string failure = r.err.substr(std::min(r.err.size(), r.err.rfind("Countdown 0")));
        EXPECT_NE(failure.find("the connection to " + m_server.PortName() + " has gone"), std::string::npos)
            << r.err;
        EXPECT_FALSE(SaysSuccess(r.out + r.err)) << r.out << r.err;
        EXPECT_EQ(FileDigest(file), setup);
        EXPECT_EQ(FileDigest(m_ctl.ProfilePath()), profile);
        // Never verified, so never stored.
        EXPECT_EQ(FileDigest(EepromFile()), eeprom);
        m_clock.Stop();
    }
}

}  // namespace
