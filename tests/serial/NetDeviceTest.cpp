// The network devices against a terminal server in the test's process: the
// Telnet stream, the option negotiation, line settings, break and purge as
// Com Port commands, servers that do not answer or go away, the open
// failures as the user reads them. The device contract runs on both kinds
// in DeviceContractTest.cpp.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "NetDevice.h"
#include "NetTestServer.h"
#include "PortCatalogue.h"
#include "Rfc2217Device.h"
#include "SerialTestSupport.h"
#include "TelnetStream.h"

using namespace Telnet;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

std::string ReadAll(CSerialDevice& device, std::size_t count, int timeoutMs = 10000) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        if (!HasAny(device.Wait(TDeviceEvents::Input, 100), TDeviceEvents::Input | TDeviceEvents::HungUp)) continue;
        unsigned char buf[256];
        const ssize_t n = device.Read(buf, sizeof buf);
        if (n > 0) got.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        if (n < 0 && errno != EAGAIN) break;
    }
    return got;
}

// The bytes that closed port a listener gave up: nothing accepts there.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// ---- the Telnet stream without a socket ----

TEST(TelnetDecoder, DataCommandsAndSubnegotiationsAreSeparatedWhereverTheBlocksSplit) {
    const std::string stream = "ab" + Bytes({IAC, IAC}) + "c" + Bytes({IAC, DO, OPT_BINARY}) + "d" +
                               Bytes({IAC, SB, OPT_COM_PORT, 101, 0, 0, 0xFF, 0xFF, 0x80, IAC, SE}) +
                               Bytes({IAC, 241}) /* NOP */ + "e\r\n" + Bytes({IAC, WONT, 24}) + "f";
    const std::string data = "ab" + Bytes({0xFF}) + "cde\r\nf";
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        CDecoder decoder;
        decoder.SetBinaryIn(true);
        std::string out;
        std::vector<TEvent> events;
        const auto* p = reinterpret_cast<const std::uint8_t*>(stream.data());
        decoder.Feed(p, split, out, events);
        decoder.Feed(p + split, stream.size() - split, out, events);
        ASSERT_EQ(out, data) << "split at " << split;
        ASSERT_EQ(events.size(), 3u) << "split at " << split;
        EXPECT_EQ(events[0].verb, DO);
        EXPECT_EQ(events[0].option, OPT_BINARY);
        EXPECT_EQ(events[1].verb, SB);
        EXPECT_EQ(events[1].payload, (std::vector<std::uint8_t>{101, 0, 0, 0xFF, 0x80}));
        EXPECT_EQ(events[2].verb, WONT);
        EXPECT_EQ(events[2].option, 24);
    }
    // One byte at a time is the worst split of all.
    CDecoder decoder;
    decoder.SetBinaryIn(true);
    std::string out;
    std::vector<TEvent> events;
    for (char c : stream) {
        const auto b = static_cast<std::uint8_t>(c);
        decoder.Feed(&b, 1, out, events);
    }
    EXPECT_EQ(out, data);
    EXPECT_EQ(events.size(), 3u);
}

TEST(TelnetDecoder, OverlongOrBrokenSubnegotiationsAndNvtCarriageReturnsNeverLeakIntoTheData) {
    std::string stream = Bytes({IAC, SB, OPT_COM_PORT});
    stream += std::string(kMaxSubnegotiation + 10, 'x');
    stream += Bytes({IAC, SE}) + "ok" + Bytes({IAC, SB, OPT_COM_PORT, 101, 1, IAC, DO, 3}) + "!";
    CDecoder decoder;
    decoder.SetBinaryIn(true);
    std::string out;
    std::vector<TEvent> events;
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(), out, events);
    EXPECT_EQ(out, "ok!");
    ASSERT_EQ(events.size(), 1u);  // the cut one dropped, the broken one ended by the DO
    EXPECT_EQ(events[0].verb, DO);

    // Without BINARY a CR comes as CR NUL.
    CDecoder nvt;
    out.clear();
    const std::string text = "a\r" + Bytes({0}) + "b\r\nc" + Bytes({0});
    nvt.Feed(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), out, events);
    EXPECT_EQ(out, "a\rb\r\nc" + Bytes({0}));
}

TEST(TelnetEncoder, IacIsDoubledInDataAndInsideSubnegotiations) {
    const std::string data = Bytes({'a', 0xFF, 0xFF, 'b'});
    EXPECT_EQ(Escape(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()),
              Bytes({'a', 0xFF, 0xFF, 0xFF, 0xFF, 'b'}));
    EXPECT_EQ(ComPortBaud(0x0100FF02u), Bytes({IAC, SB, 44, 1, 1, 0, 0xFF, 0xFF, 2, IAC, SE}));
    EXPECT_EQ(ComPort(CPC_SET_CONTROL, CPC_BREAK_ON), Bytes({IAC, SB, 44, 5, 5, IAC, SE}));
}

// ---- names ----

TEST(NetworkPortName, HostsPortsAndBracketedIpv6AreTakenAndEverythingElseRefused) {
    TNetPortName name;
    ASSERT_TRUE(ParseNetworkPortName("rfc2217://ts1.rack:2001", name));
    EXPECT_TRUE(name.rfc2217);
    EXPECT_EQ(name.host, "ts1.rack");
    EXPECT_EQ(name.port, "2001");
    ASSERT_TRUE(ParseNetworkPortName(" TCP://[::1]:4001 ", name));
    EXPECT_FALSE(name.rfc2217);
    EXPECT_EQ(name.host, "::1");
    ASSERT_TRUE(ParseNetworkPortName("tcp://10.0.0.5:00023", name));
    EXPECT_EQ(name.port, "23");
    for (const char* bad : {"tcp://host", "tcp://:23", "tcp://host:", "tcp://host:0", "tcp://host:65536",
                            "tcp://host:12a", "tcp://::1:23", "tcp://[::1]23", "tcp://[::1", "tcp://a b:23",
                            "tcp://user@host:23", "rfc2217://host:123456", "/dev/ttyS0", "COM1"}) {
        EXPECT_FALSE(ParseNetworkPortName(bad, name)) << bad;
    }
    EXPECT_TRUE(IsNetworkPortName("rfc2217://nonsense"));
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
}

// ---- RFC 2217 against the fake server ----

class Rfc2217Test : public ::testing::Test {
protected:
    void OpenOn(CNetTestServer& server) {
        ASSERT_TRUE(server.Ok());
        m_device.SetOpenTimeouts(10000, 10000);
        m_device.SetAnswerWait(5000);
        ASSERT_TRUE(m_device.Open(server.Name())) << std::strerror(errno);
    }
    CRfc2217Device m_device;
};

TEST_F(Rfc2217Test, OpenAsksForBinarySgaAndComPortAndRefusesWhatItDoesNotKnow) {
    CNetTestServer server;
    OpenOn(server);
    const std::string raw = server.Raw();
    for (const std::string& request : {Command(WILL, OPT_BINARY), Command(DO, OPT_BINARY), Command(WILL, OPT_SGA),
                                       Command(DO, OPT_SGA), Command(WILL, OPT_COM_PORT)})
        EXPECT_NE(raw.find(request), std::string::npos) << "missing request";
    EXPECT_TRUE(m_device.HasComPort());
    EXPECT_EQ(m_device.OpenNotice(), "");
    // A terminal type is asked for and refused; an echo offered is declined.
    server.Send(Command(DO, 24) + Command(WILL, 1));
    EXPECT_TRUE(server.WaitForRaw(Command(WONT, 24) + Command(DONT, 1)));
    // Our own requests are not repeated when the server asks for them again.
    server.ClearRaw();
    server.Send(Command(DO, OPT_BINARY) + "x");
    EXPECT_EQ(ReadAll(m_device, 1), "x");
    EXPECT_EQ(server.Raw(), "");
}

TEST_F(Rfc2217Test, IacIsEscapedBothWaysAndCommandsSplitAcrossSegmentsAreTakenOut) {
    CNetTestServer server;
    OpenOn(server);
    const std::string out = Bytes({'A', 0xFF, 'B', 0xFF});
    ASSERT_EQ(m_device.Write(reinterpret_cast<const unsigned char*>(out.data()), out.size()), 4);
    EXPECT_TRUE(server.WaitFor([&] { return server.Data() == out; }));
    EXPECT_NE(server.Raw().find(Bytes({'A', 0xFF, 0xFF, 'B', 0xFF, 0xFF})), std::string::npos);

    // Each piece a segment of its own, with pauses so they arrive apart.
    const std::string pieces[] = {"12", Bytes({IAC}), Bytes({IAC, '3', IAC, SB}),
                                  Bytes({OPT_COM_PORT, 106, 0}), Bytes({IAC}), Bytes({SE, '4', IAC}),
                                  Bytes({241, '5'})};
    for (const auto& piece : pieces) {
        ASSERT_TRUE(server.Send(piece));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(ReadAll(m_device, 6), "12" + Bytes({0xFF}) + "345");
    unsigned queued = 99;
    EXPECT_TRUE(m_device.QueuedInput(queued));
    EXPECT_EQ(queued, 0u);
}

TEST_F(Rfc2217Test, LineSettingsGoOutAsComPortCommandsAndReadBackAsSet) {
    CNetTestServer server;
    OpenOn(server);
    server.ClearRaw();
    TLineSettings line;
    line.rate = 19200;
    line.dataBits = 7;
    line.parity = TParity::Even;
    line.stopBits = TStopBits::Two;
    line.dtr = TDtrMode::On;
    ASSERT_TRUE(m_device.SetLineState(line));
    const std::string expected = Bytes({IAC, SB, 44, 1, 0, 0, 0x4B, 0x00, IAC, SE}) +
                                 Bytes({IAC, SB, 44, 2, 7, IAC, SE}) + Bytes({IAC, SB, 44, 3, 3, IAC, SE}) +
                                 Bytes({IAC, SB, 44, 4, 2, IAC, SE}) + Bytes({IAC, SB, 44, 5, 1, IAC, SE}) +
                                 Bytes({IAC, SB, 44, 5, 8, IAC, SE}) + Bytes({IAC, SB, 44, 5, 12, IAC, SE});
    EXPECT_TRUE(server.WaitForRaw(expected)) << "sent other bytes";
    TLineSettings back;
    ASSERT_TRUE(m_device.GetLineState(back));
    EXPECT_EQ(back, line);

    // The modem lines and flow control go again only when they change.
    server.ClearRaw();
    line.rate = 4800;
    line.ctsOutFlow = true;
    ASSERT_TRUE(m_device.SetLineState(line));
    EXPECT_TRUE(server.WaitForRaw(Bytes({IAC, SB, 44, 5, 3, IAC, SE})));
    EXPECT_EQ(server.Raw().find(Bytes({IAC, SB, 44, 5, 8, IAC, SE})), std::string::npos);

    // 5 data bits with one and a half stop bits, mark and space parity.
    server.ClearRaw();
    line.dataBits = 5;
    line.stopBits = TStopBits::OneAndHalf;
    line.parity = TParity::Mark;
    ASSERT_TRUE(m_device.SetLineState(line));
    EXPECT_TRUE(server.WaitForRaw(Bytes({IAC, SB, 44, 3, 4, IAC, SE}) + Bytes({IAC, SB, 44, 4, 3, IAC, SE})));
}

TEST_F(Rfc2217Test, ServerAnswerCorrectsTheRateAndASilentServerIsNotWaitedFor) {
    CNetTestServer::TBehaviour how;
    how.forcedRate = 9600;
    CNetTestServer server(how);
    OpenOn(server);
    TLineSettings line;
    line.rate = 38400;
    ASSERT_TRUE(m_device.SetLineState(line));
    TLineSettings back;
    ASSERT_TRUE(m_device.GetLineState(back));
    EXPECT_EQ(back.rate, 9600u);  // what the server's line really took

    CNetTestServer::TBehaviour silent;
    silent.answerSettings = false;
    CNetTestServer quiet(silent);
    CRfc2217Device device;
    device.SetOpenTimeouts(10000, 10000);
    device.SetAnswerWait(300);
    ASSERT_TRUE(device.Open(quiet.Name())) << std::strerror(errno);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.SetLineState(line));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_TRUE(device.GetLineState(back));
    EXPECT_EQ(back.rate, 38400u);
}

TEST_F(Rfc2217Test, BreakAndPurgeAreComPortCommands) {
    CNetTestServer server;
    OpenOn(server);
    server.ClearRaw();
    ASSERT_TRUE(m_device.SetBreak(true));
    ASSERT_TRUE(m_device.SetBreak(false));
    ASSERT_TRUE(m_device.Purge(true, false));
    ASSERT_TRUE(m_device.Purge(false, true));
    ASSERT_TRUE(m_device.Purge(true, true));
    EXPECT_TRUE(server.WaitForRaw(Bytes({IAC, SB, 44, 5, 5, IAC, SE, IAC, SB, 44, 5, 6, IAC, SE}) +
                                  Bytes({IAC, SB, 44, 12, 1, IAC, SE, IAC, SB, 44, 12, 2, IAC, SE}) +
                                  Bytes({IAC, SB, 44, 12, 3, IAC, SE})));
}

TEST_F(Rfc2217Test, ServerWithoutComPortOpensWithANoticeAndIsSentNoSettings) {
    CNetTestServer::TBehaviour how;
    how.refuseComPort = true;
    CNetTestServer server(how);
    OpenOn(server);
    EXPECT_FALSE(m_device.HasComPort());
    EXPECT_NE(m_device.OpenNotice().find(server.Name()), std::string::npos) << m_device.OpenNotice();
    server.ClearRaw();
    TLineSettings line;
    line.rate = 2400;
    ASSERT_TRUE(m_device.SetLineState(line));
    ASSERT_TRUE(m_device.SetBreak(true));
    const unsigned char z = 'z';
    ASSERT_EQ(m_device.Write(&z, 1), 1);
    EXPECT_TRUE(server.WaitFor([&] { return server.Data() == "z"; }));
    EXPECT_EQ(server.Raw(), "z");
}

// ---- through the port: open failures, notices, a server that goes away ----

class NetPortTest : public CSerialTest {
protected:
    std::unique_ptr<CCommPort> MakePort() {
        // The factory's devices are never used for a network name.
        return std::make_unique<CCommPort>(&m_netReporter, [this] { return m_fake; });
    }
    std::vector<std::string> m_notices;
    CPortReporter m_netReporter{[this](const std::string& text) { m_boxes.push_back(text); }, {},
                                [this](const std::string& text) { m_notices.push_back(text); }};
};

TEST_F(NetPortTest, RefusedAndUnknownAndSilentServersSayWhichHostAndWhatToDo) {
    auto port = MakePort();
    const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(FreePort());
    EXPECT_FALSE(port->Open(refused));
    EXPECT_NE(port->GetOpenFailure().find(refused), std::string::npos) << port->GetOpenFailure();
    EXPECT_NE(port->GetOpenFailure().find("Is the terminal server on, and is the port number right?"),
              std::string::npos)
        << port->GetOpenFailure();
    EXPECT_FALSE(m_fake->IsOpen());

    // .invalid never resolves; without a name server it fails as unanswered.
    EXPECT_FALSE(port->Open("tcp://no-such-clock.invalid:4001"));
    const std::string unknown = port->GetOpenFailure();
    EXPECT_TRUE(unknown.find("The host \"no-such-clock.invalid\" was not found.") != std::string::npos ||
                unknown.find("The name server did not answer for \"no-such-clock.invalid\"") != std::string::npos)
        << unknown;

    EXPECT_FALSE(port->Open("tcp://clock-without-port"));
    EXPECT_NE(port->GetOpenFailure().find("rfc2217://HOST:PORT or tcp://HOST:PORT"), std::string::npos);

    // A raw listener that never speaks Telnet: refused in bounded time, with the way out.
    CNetTestServer::TBehaviour mute;
    mute.answerOptions = false;
    CNetTestServer server(mute);
    CRfc2217Device device;
    device.SetOpenTimeouts(5000, 300);
    errno = 0;
    EXPECT_FALSE(device.Open(server.Name()));
    EXPECT_EQ(errno, EPROTO);
    EXPECT_NE(CPortCatalogue::OpenHint(EPROTO, server.Name()).find("tcp://HOST:PORT"), std::string::npos);
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(NetPortTest, RawTcpCarriesBytesAsTheyAreAndSaysOnceAtOpenThatItHasNoBreak) {
    CNetTestServer::TBehaviour raw;
    raw.telnet = false;
    CNetTestServer server(raw);
    auto port = MakePort();
    ASSERT_TRUE(port->Open(server.Name("tcp"))) << port->GetOpenFailure();
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_NE(m_notices[0].find("cannot send a break"), std::string::npos) << m_notices[0];
    EXPECT_NE(m_notices[0].find(server.Name("tcp")), std::string::npos) << m_notices[0];
    EXPECT_FALSE(m_fake->IsOpen());

    const unsigned char bytes[] = {'R', 0xFF, '\r', 0};
    ASSERT_TRUE(port->Write(bytes, sizeof bytes));
    EXPECT_TRUE(server.WaitFor([&] { return server.Raw() == std::string("R\xff\r", 3) + '\0'; }));
    EXPECT_TRUE(port->SendBreak());
    ASSERT_TRUE(server.Send(std::string("\xff\xfa", 2)));
    unsigned char buf[8];
    unsigned n = sizeof buf;
    ASSERT_TRUE(port->SetReadTimeouts(MAXDWORD, MAXDWORD, 5000));
    ASSERT_TRUE(port->Read(buf, n));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), std::string("\xff\xfa", 2));
    EXPECT_EQ(m_notices.size(), 1u);
}

TEST_F(NetPortTest, ServerGoingAwayMidStreamEndsTheReaderAsAnUnpluggedDeviceAndThePortOpensAgain) {
    WriteProfileInt("Debug", "Verbose", 1);
    CNetTestServer server;
    auto port = MakePort();
    CRecordingTarget notify, console;
    port->SetNotifyWnd(&notify);
    ASSERT_TRUE(port->Open(server.Name())) << port->GetOpenFailure();
    port->ReadStart(&console);
    ASSERT_TRUE(server.Send("partial line"));
    EXPECT_TRUE(console.WaitForData(12, 10000));
    server.HangUp();
    EXPECT_TRUE(notify.WaitFor([&] {
        for (const auto& m : notify.Messages(WM_COMMSTATUS))
            if (m.Code() == -1) return true;
        return false;
    }, 10000));
    EXPECT_EQ(console.Data(), "partial line");
    ASSERT_FALSE(m_boxes.empty());
    // The reader tells it as it tells an unplugged adapter: the system's reason alone.
    EXPECT_TRUE(m_boxes.back() == std::string(std::strerror(EIO)) + "\n" ||
                m_boxes.back() == std::string(std::strerror(ECONNRESET)) + "\n")
        << m_boxes.back();
    port->Close();
    ASSERT_TRUE(port->Open(server.Name())) << port->GetOpenFailure();
    EXPECT_TRUE(server.WaitFor([&] { return server.Connections() == 2; }));
}

TEST_F(NetPortTest, WritesAndDrainToAServerThatStopsReadingEndWithinTheirBounds) {
    CNetTestServer::TBehaviour stalled;
    stalled.telnet = false;
    stalled.readInput = false;
    CNetTestServer server(stalled);
    CTcpDevice device;
    ASSERT_TRUE(device.Open(server.Name("tcp"))) << std::strerror(errno);
    // Fill the socket until it takes no more.
    const std::string block(64 * 1024, 'x');
    const auto start = std::chrono::steady_clock::now();
    bool full = false;
    while (!full && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        const ssize_t n = device.Write(reinterpret_cast<const unsigned char*>(block.data()), block.size());
        if (n < 0) {
            ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << std::strerror(errno);
            full = true;
        }
    }
    ASSERT_TRUE(full);
    EXPECT_EQ(device.Wait(TDeviceEvents::Output, 50), TDeviceEvents::TimedOut);
    const auto drainStart = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_FALSE(device.Drain(200));
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - drainStart, std::chrono::seconds(5));
}

}  // namespace
