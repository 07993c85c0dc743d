// The device contract on the termios device over a pseudo-terminal, on the
// fake device the other serial tests use, and on the network devices; and
// the link's round trip each reports: none on a local line, measured on a
// network port (against a test server that answers late), with the socket
// sending each byte at once and the line trace noting it.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>
#include <sstream>

#include "DeviceContract.h"
#include "NetContractLine.h"
#include "SerialTestSupport.h"
#include "TermiosDevice.h"

namespace {

class CTermiosLine : public CDeviceUnderTest {
public:
    std::shared_ptr<CSerialDevice> MakeDevice() override { return std::make_shared<CTermiosDevice>(); }
    std::string Path() override { return m_pty.Path(); }
    std::string Provoke(CSerialDevice&) override { return m_pty.Send(kBytes) ? kBytes : std::string(); }
    std::string FarEndGot(std::size_t count, int timeoutMs) override { return m_pty.Receive(count, timeoutMs); }
    void HangUp() override { m_pty.CloseMaster(); }

private:
    static inline const std::string kBytes = std::string("12 Mar\r\n\x00\x11\x13\xff", 12);
    CPseudoTerminal m_pty;
};

// The line of a fake device is its own: the rival is a second fake on the same path.
class CFakeLine : public CDeviceUnderTest {
public:
    std::shared_ptr<CSerialDevice> MakeDevice() override {
        auto device = std::make_shared<CFakeSerialDevice>();
        if (!m_first) m_first = device;
        return device;
    }
    std::string Path() override { return "/dev/ttyFAKE0"; }
    std::string Provoke(CSerialDevice&) override { return m_first->PeerWrite(kBytes) ? kBytes : std::string(); }
    std::string FarEndGot(std::size_t count, int timeoutMs) override {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            got += m_first->PeerReadAll();
            if (got.size() < count) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return got;
    }
    void HangUp() override { m_first->HangUp(); }

private:
    static inline const std::string kBytes = "hello\r\n";
    std::shared_ptr<CFakeSerialDevice> m_first;
};

INSTANTIATE_TEST_SUITE_P(Serial, DeviceContract,
                         ::testing::Values(TDeviceMaker{"Termios", [] { return std::make_unique<CTermiosLine>(); }},
                                           TDeviceMaker{"Fake", [] { return std::make_unique<CFakeLine>(); }},
                                           TDeviceMaker{"Rfc2217", [] { return std::make_unique<CNetLine>(true); }},
                                           TDeviceMaker{"RawTcp", [] { return std::make_unique<CNetLine>(false); }}),
                         [](const ::testing::TestParamInfo<TDeviceMaker>& info) { return info.param.name; });

// ---- the round trip ----

constexpr int kDelayMs = 200;
// Answers leave no sooner than kDelayMs; a busy machine only adds to that.
constexpr unsigned kAtLeastMs = 150;
constexpr unsigned kGenerousMs = 2500;

// What the device delivers until count bytes came (or a generous bound passed).
std::string ReadCount(CSerialDevice& device, std::size_t count) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        unsigned char buf[32];
        const ssize_t n = HasAny(device.Wait(TDeviceEvents::Input, 100), TDeviceEvents::Input) ? device.Read(buf, sizeof buf) : 0;
        if (n > 0) got.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    }
    return got;
}

// One byte written and its echo read back.
bool Exchange(CSerialDevice& device, unsigned char byte) {
    return device.Write(&byte, 1) == 1 && ReadCount(device, 1) == std::string(1, static_cast<char>(byte));
}

// The socket of this process connected to port on 127.0.0.1, found as the
// kernel sees it: no peeking inside the device.
int SocketTo(int port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0 || peer.sin_family != AF_INET) continue;
        if (ntohs(peer.sin_port) == port) return fd;
    }
    return -1;
}

int PortOf(const std::string& name) { return std::stoi(name.substr(name.rfind(':') + 1)); }

CNetTestServer::TBehaviour FarAway(bool telnet) {
    CNetTestServer::TBehaviour how;
    how.telnet = telnet;
    how.echo = true;
    how.delayMs = kDelayMs;
    return how;
}

TEST(NetRoundTrip, AServerAnsweringLateGivesItsDelayAtOnceAndLosesItOnlySlowly) {
    for (const char* scheme : {"rfc2217", "tcp"}) {
        SCOPED_TRACE(scheme);
        const bool telnet = std::string(scheme) == "rfc2217";
        CNetTestServer server(FarAway(telnet));
        const auto device = MakeNetworkDevice(server.Name(scheme));
        ASSERT_TRUE(device->Open(server.Name(scheme))) << std::strerror(errno);
        EXPECT_TRUE(device->IsNetworkLink());
        // RFC 2217 knows it from the negotiation; raw TCP has only the
        // kernel's view of the handshake, which nothing delays here.
        if (telnet) {
            EXPECT_GE(device->RoundTripMs(), kAtLeastMs);
            EXPECT_LT(device->RoundTripMs(), kGenerousMs);
        }

        // The echo of a byte: the estimate is its time at once.
        ASSERT_TRUE(Exchange(*device, 'T'));
        const unsigned slow = device->RoundTripMs();
        EXPECT_GE(slow, kAtLeastMs);
        EXPECT_LT(slow, kGenerousMs);

        // Bytes that leave faster than their echoes come back (as a command
        // does at its character pace): each is measured to its own echo,
        // never to the echo of an earlier one.
        for (int i = 0; i < 20; ++i) {
            const unsigned char byte = 'A' + i;
            ASSERT_EQ(device->Write(&byte, 1), 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the pace, not a wait for the echo
        }
        ASSERT_EQ(ReadCount(*device, 20), "ABCDEFGHIJKLMNOPQRST");
        EXPECT_GE(device->RoundTripMs(), kAtLeastMs);

        // Quick answers bring it down, but one alone hardly does.
        server.SetDelay(0);
        ASSERT_TRUE(Exchange(*device, 'a'));
        EXPECT_GE(device->RoundTripMs(), slow * 3 / 4);
        for (int i = 0; i < 30; ++i) ASSERT_TRUE(Exchange(*device, 'b'));
        EXPECT_LT(device->RoundTripMs(), slow);
    }
}

TEST(NetRoundTrip, LocalLinesHaveNoneAndEveryNetworkSocketSendsEachByteAtOnce) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CTermiosDevice tty;
    ASSERT_TRUE(tty.Open(pty.Path())) << std::strerror(errno);
    EXPECT_EQ(tty.RoundTripMs(), 0u);
    EXPECT_FALSE(tty.IsNetworkLink());
    CFakeSerialDevice fake;
    EXPECT_EQ(fake.RoundTripMs(), 0u);
    EXPECT_FALSE(fake.IsNetworkLink());

    // Without TCP_NODELAY a command byte waits for the last one's acknowledgement.
    for (const char* scheme : {"rfc2217", "tcp"}) {
        CNetTestServer server(FarAway(std::string(scheme) == "rfc2217"));
        server.SetDelay(0);
        const auto device = MakeNetworkDevice(server.Name(scheme));
        ASSERT_TRUE(device->Open(server.Name(scheme))) << scheme << ": " << std::strerror(errno);
        const int fd = SocketTo(PortOf(server.Name(scheme)));
        ASSERT_GE(fd, 0) << scheme;
        int on = 0;
        socklen_t len = sizeof on;
        ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &len), 0) << std::strerror(errno);
        EXPECT_NE(on, 0) << scheme;
    }
}

class NetRoundTripPortTest : public CSerialTest {};

TEST_F(NetRoundTripPortTest, TheTraceSaysTheRoundTripAtOpenAndWhenItGrows) {
    CNetTestServer server(FarAway(false));
    server.SetDelay(0);
    WriteProfileInt("Communication", "ReadTimeOut", 10000);  // the echo's own bound decides
    std::string reason;
    auto trace = CLineTrace::Open(m_dir.File("trace.txt"), reason);
    ASSERT_TRUE(trace) << reason;
    CCommPort port(&m_reporter);
    port.SetTrace(trace);
    ASSERT_TRUE(port.Open(server.Name("tcp"))) << port.GetOpenFailure();
    EXPECT_TRUE(port.IsNetworkLink());

    // Through the port, as the clock layer asks: a byte and its echo.
    auto exchange = [&port](unsigned char byte) {
        if (!port.Write(&byte, 1) || !port.SetReadTimeouts(MAXDWORD, MAXDWORD, 10000)) return false;
        unsigned char got = 0;
        unsigned n = 1;
        return port.Read(&got, n) && n == 1 && got == byte;
    };
    ASSERT_TRUE(exchange('x'));  // quick: no change worth a line
    server.SetDelay(kDelayMs);
    ASSERT_TRUE(exchange('y'));
    EXPECT_GE(port.RoundTripMs(), kAtLeastMs);
    port.Close();

    std::vector<unsigned> noted;  // from "STAMP - round trip N ms on PORT"
    std::istringstream in(ReadWholeFile(m_dir.File("trace.txt")));
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find(" - round trip ");
        if (at == std::string::npos) continue;
        EXPECT_NE(line.find(" ms on " + server.Name("tcp")), std::string::npos) << line;
        noted.push_back(static_cast<unsigned>(std::stoul(line.substr(at + 14))));
    }
    // At open the kernel's view of the loopback; then the late echo. (A
    // busy machine may make the quick one late enough for a line of its own.)
    ASSERT_GE(noted.size(), 2u) << ReadWholeFile(m_dir.File("trace.txt"));
    EXPECT_LT(noted.front(), kAtLeastMs);
    EXPECT_GE(noted.back(), kAtLeastMs);
}

}  // namespace
