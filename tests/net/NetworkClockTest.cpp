// Clocks over the network, end to end: tarvelctl reads, writes and reads back
// a clock behind the real ser2net (RFC 2217 and raw TCP) and behind
// tarvel-clocksim's own TCP server; a server killed mid-write fails the write
// with a message naming it and changes no file.
#include <signal.h>

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
