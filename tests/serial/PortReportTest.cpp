// What the port leaves behind and says about its profile: the report of a
// failed open, pauses held to a sane length, refused stored settings; and why
// a Read, Write, FlushWrites or SendBreak failed, as the port keeps it for
// the layers above (GetLastFailure) and shows it: in the user's words, never
// a system call's name.
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>

#include "NetDevice.h"
#include "NetTestServer.h"
#include "SerialTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

class PortReportTest : public CSerialTest {
protected:
    // Runs fn on a thread. A version that hangs on the pipe at path is set
    // free after a generous wait (its open is met from the other side), so
    // the test fails instead of hanging.
    static bool FinishesWithoutThePipe(const std::string& path, std::function<void()> fn) {
        auto done = std::async(std::launch::async, std::move(fn));
        if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return true;
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        done.wait();
        if (fd >= 0) ::close(fd);
        return false;
    }
};

TEST_F(PortReportTest, ReportIsNeverWrittenThroughALinkNorIntoAPipe) {
    // A link planted where the report goes: the file it names stays as it was.
    WriteWholeFile(m_dir.File("victim"), "keep");
    ASSERT_EQ(::symlink("victim", m_dir.File("commport_err.txt").c_str()), 0);
    auto port = MakeFakePort();
    m_fake->SetOpenError(ENOENT);
    EXPECT_FALSE(port->Open("/dev/ttyUSB7"));
    EXPECT_EQ(ReadWholeFile(m_dir.File("victim")), "keep");
    struct stat st {};
    ASSERT_EQ(::lstat(m_dir.File("commport_err.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A pipe nobody reads: the failed open still returns at once.
    ASSERT_EQ(::unlink(m_dir.File("commport_err.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo(m_dir.File("commport_err.txt").c_str(), 0600), 0);
    bool opened = true;
    EXPECT_TRUE(FinishesWithoutThePipe(m_dir.File("commport_err.txt"), [&] { opened = port->Open("/dev/ttyUSB7"); }));
    EXPECT_FALSE(opened);

    // A plain file is replaced as before, and an old longer report is cut.
    ASSERT_EQ(::unlink(m_dir.File("commport_err.txt").c_str()), 0);
    WriteWholeFile(m_dir.File("commport_err.txt"), std::string(5000, 'x'));
    EXPECT_FALSE(port->Open("/dev/ttyUSB7"));
    const std::string report = ErrorFile();
    EXPECT_EQ(report.rfind("CreateFile\n", 0), 0u) << report;
    EXPECT_EQ(report.find('x'), std::string::npos);
}

TEST_F(PortReportTest, ReporterDecidesWhereTheReportGoes) {
    // As tarvelctl reports: the reason as text, no file.
    std::vector<std::string> reasons, texts;
    class CRecordingReporter : public CPortReporter {
    public:
        CRecordingReporter(std::vector<std::string>& reasons, std::vector<std::string>& texts)
            : CPortReporter([&texts](const std::string& t) { texts.push_back(t); }), m_reasons(reasons) {}
        void OpenFailed(const std::string& reason, const std::function<std::string()>&) override {
            m_reasons.push_back(reason);
        }

    private:
        std::vector<std::string>& m_reasons;
    } reporter(reasons, texts);
    auto fake = m_fake;
    WriteProfileInt("Debug", "Verbose", 1);
    CCommPort port(&reporter, [fake] { return fake; });
    m_fake->SetOpenError(EACCES);
    EXPECT_FALSE(port.Open("/dev/ttyUSB7"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("commport_err.txt")));
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].rfind(std::string(std::strerror(EACCES)) + "\n", 0), 0u) << reasons[0];
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], reasons[0]);

    // Without a reporter nobody hears of it, and nothing is written.
    CCommPort silent(nullptr, [fake] { return fake; });
    EXPECT_FALSE(silent.Open("/dev/ttyUSB7"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("commport_err.txt")));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PortReportTest, HugeWriteTimeOutIsHeldToAFewSecondsAndToldOnce) {
    // The profile tells of the clamp through the prompt hook, not the port.
    CCapturedNotices notices;
    // Days, as an edited profile may ask for.
    WriteProfileInt("Communication", "WriteTimeOut", 2000000000);
    auto port = MakeFakePort();
    m_fake->SetSendBuffer(1);  // the line takes next to nothing, and nobody reads it
    ASSERT_TRUE(port->Open("/dev/ttyUSB7"));
    const std::vector<unsigned char> bytes(1 << 20, 'x');
    const auto start = Clock::now();
    EXPECT_FALSE(port->Write(bytes.data(), static_cast<unsigned>(bytes.size())));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(waited, MAX_PROFILE_DELAY_MS - 50);
    EXPECT_LT(waited, 60000);

    // Told once, at the open, naming the key; not again for each write.
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_NE(notices.notices[0].find("WriteTimeOut=2000000000"), std::string::npos) << notices.notices[0];
    EXPECT_NE(notices.notices[0].find("5000 ms is used"), std::string::npos) << notices.notices[0];
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PortReportTest, RefusedStoredStopBitsNameTheKeyAndTheChoices) {
    WriteProfileInt("Debug", "Verbose", 1);
    WriteProfileInt("Communication", "AutoOpen", 1);
    WriteProfileString("Communication", "CommPort", "/dev/ttyUSB3");
    WriteProfileString("Communication", "StopLength", "3");
    auto port = MakeFakePort();
    EXPECT_FALSE(port->IsOpen());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].find("StopLength=3"), std::string::npos) << m_boxes[0];
    EXPECT_NE(m_boxes[0].find("one of 1, 2."), std::string::npos) << m_boxes[0];
}

// ---- why I/O failed ----

const char* const kCallNames[] = {"ReadFile", "WriteFile", "CreateFile", "SetCommState", "GetCommState",
                                  "GetLastError", "WaitFor", "GetOverlappedResult", "FlushWrites",
                                  "SetCommBreak", "ClearCommBreak", "ClearCommError", "PurgeComm"};

// The call names found in text.
std::string CallNamesIn(const std::string& text) {
    std::string found;
    for (const char* name : kCallNames)
        if (text.find(name) != std::string::npos) found += std::string(name) + " ";
    return found;
}

const std::string kGone = "the device is gone (unplugged, or the connection was closed)";

class PortFailureTest : public CSerialTest {
protected:
    void SetUp() override {
        CSerialTest::SetUp();
        WriteProfileInt("Debug", "Verbose", 1);
    }
    // No reason, nor anything the user was shown, names a call.
    void ExpectNoCallNames(const CCommPort& port) {
        EXPECT_EQ(CallNamesIn(port.GetLastFailure()), "") << port.GetLastFailure();
        for (const auto& box : m_boxes) EXPECT_EQ(CallNamesIn(box), "") << box;
    }
};

TEST_F(PortFailureTest, EachFailureKeepsItsReasonUntilTheLineWorksAgain) {
    unsigned char buf[64] = {};
    const std::vector<unsigned char> block(256 * 1024, 'x');
    auto read = [&buf](CCommPort& p) {
        unsigned n = sizeof buf;
        return p.Read(buf, n);
    };
    struct TRow {
        const char* what;
        std::function<bool(CCommPort&)> fails;  // false: the call failed, as it must
        std::string reason;
    };
    const TRow rows[] = {
        {"read on a closed port", [&](CCommPort& p) { return !p.Close() || read(p); }, "the port is not open"},
        {"write on a closed port", [&](CCommPort& p) { return !p.Close() || p.Write(buf, 4); }, "the port is not open"},
        {"a line that takes no output", [&](CCommPort& p) {
             m_fake->SetSendBuffer(1);  // taken at open
             return !p.Open("COM1") || p.Write(block.data(), static_cast<unsigned>(block.size()));
         }, "the port took no output for 300 ms"},
        {"output that does not drain", [&](CCommPort& p) { m_fake->SetDrainError(ETIMEDOUT); return p.FlushWrites(CCommPort::DRAIN_OUTPUT); },
         "the port took no output for 300 ms"},
        {"a drain the driver refuses", [&](CCommPort& p) { m_fake->SetDrainError(EPERM); return p.FlushWrites(CCommPort::PURGE_INPUT | CCommPort::DRAIN_OUTPUT); },
         std::strerror(EPERM)},
        {"a read that waits for more than comes", [&](CCommPort& p) { return !p.SetReadTimeouts(0, 0, 0) || read(p); },
         "nothing came in on the port for 300 ms"},
        {"a line hung up", [&](CCommPort& p) {
             m_fake->HangUp();
             return !p.SetReadTimeouts(MAXDWORD, MAXDWORD, 5000) || read(p);
         }, kGone},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        m_boxes.clear();
        m_fake = std::make_shared<CFakeSerialDevice>();
        auto port = MakeFakePort();
        ASSERT_TRUE(port->Open("COM1"));
        EXPECT_EQ(port->GetLastFailure(), "");
        EXPECT_FALSE(row.fails(*port));
        EXPECT_EQ(port->GetLastFailure(), row.reason);
        ExpectNoCallNames(*port);
        // Clean-up after it does not hide it; a line that works again clears it.
        if (!port->IsOpen()) continue;
        m_fake->SetDrainError(0);
        port->FlushWrites(CCommPort::PURGE_INPUT);
        EXPECT_EQ(port->GetLastFailure(), row.reason);
        port->SetReadTimeouts(MAXDWORD, 0, 0);
        EXPECT_TRUE(read(*port));
        EXPECT_EQ(port->GetLastFailure(), "");
    }
}

TEST_F(PortFailureTest, AnUnpluggedAdapterOrAClosedConnectionIsAGoneDevice) {
    WriteProfileInt("Communication", "ReadTimeOut", 10000);
    auto readFails = [](CCommPort& port) {
        unsigned char buf[16];
        unsigned n = sizeof buf;
        port.SetReadTimeouts(MAXDWORD, MAXDWORD, 10000);
        return !port.Read(buf, n);
    };

    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CCommPort tty(&m_reporter);
    ASSERT_TRUE(tty.Open(pty.Path()));
    pty.CloseMaster();
    EXPECT_TRUE(readFails(tty));
    EXPECT_EQ(tty.GetLastFailure(), kGone);
    ExpectNoCallNames(tty);

    for (const char* scheme : {"rfc2217", "tcp"}) {
        SCOPED_TRACE(scheme);
        CNetTestServer::TBehaviour how;
        how.telnet = std::string(scheme) == "rfc2217";
        CNetTestServer server(how);
        CCommPort net(&m_reporter);
        ASSERT_TRUE(net.Open(server.Name(scheme))) << net.GetOpenFailure();
        server.HangUp();
        EXPECT_TRUE(readFails(net));
        EXPECT_EQ(net.GetLastFailure(), kGone);
        // A break needs the connection too (raw TCP sends none at all).
        if (how.telnet) {
            net.SetReadTimeouts(MAXDWORD, 0, 0);
            EXPECT_FALSE(net.SendBreak());
            EXPECT_EQ(net.GetLastFailure(), kGone);
        }
        ExpectNoCallNames(net);
    }
    EXPECT_FALSE(m_boxes.empty());
}

}  // namespace
