// CCommPort on real pseudo-terminals, and on the fake device where a
// pseudo-terminal cannot show what happened (purges, breaks, error counters,
// refused settings).
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "PortCatalogue.h"
#include "SerialTestSupport.h"
#include "StringTable.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Reads until want bytes came or nothing more arrives for a while.
std::string ReadAvailable(CCommPort& port, std::size_t want) {
    std::string got;
    for (int tries = 0; tries < 500 && got.size() < want; ++tries) {
        unsigned char buf[256];
        unsigned n = sizeof buf;
        if (!port.Read(buf, n)) break;
        got.append(reinterpret_cast<char*>(buf), n);
        if (n == 0) SleepMs(5);
    }
    return got;
}

class CommPortTest : public CSerialTest {};

TEST_F(CommPortTest, OpenOfMissingDeviceFailsAndLeavesAReport) {
    WriteProfileInt("Debug", "Verbose", 1);
    CCommPort port(&m_reporter);
    CRecordingTarget notify;
    port.SetNotifyWnd(&notify);

    EXPECT_FALSE(port.Open("/dev/tarvel-no-such-tty"));
    EXPECT_FALSE(port.IsOpen());

    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].Code(), -1);

    const std::string sysText = std::strerror(ENOENT);
    ASSERT_EQ(m_boxes.size(), 1u);
    // Then what to do about it: two lines (plug it in; the ports there are).
    const std::string head = sysText + "\nNo such device. ";
    EXPECT_EQ(m_boxes[0].substr(0, head.size()), head);
    EXPECT_EQ(Lines(m_boxes[0]).size(), 3u);

    // For diagnosis: the failed call, the error text with its hint, the last
    // port opened (none yet), the open flag and the line settings of a closed port.
    std::vector<std::string> expected = {"",              "Open: 0",       "DCB from    ", "BaudRate    0",
                                         "Parity      0", "Data Length 0", "Stop Length 0"};
    auto lines = Lines(ErrorFile());
    ASSERT_EQ(lines.size(), 4 + expected.size());
    EXPECT_EQ(lines[0], "CreateFile");
    EXPECT_EQ(lines[1], sysText);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()), expected);
}

TEST_F(CommPortTest, DeviceIsExclusiveAndAFailedOpenReleasesTheOldOne) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CCommPort first(&m_reporter), second(&m_reporter);
    ASSERT_TRUE(first.Open(pty.Path()));
    EXPECT_FALSE(second.Open(pty.Path()));  // even for root
    EXPECT_TRUE(first.IsOpen());
    EXPECT_EQ(Lines(ErrorFile()).at(0), "CreateFile");
    EXPECT_TRUE(m_boxes.empty());  // not verbose: no box, but the report

    EXPECT_FALSE(first.Open("/dev/tarvel-no-such-tty"));
    auto lines = Lines(ErrorFile());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[4], pty.Path());  // the last port opened, after the error and its hint
    EXPECT_EQ(lines[5], "Open: 0");
    EXPECT_TRUE(second.Open(pty.Path()));
}

TEST_F(CommPortTest, ModeStringDecidesTheLineAtOpen) {
    WriteProfileString("Communication", "Mode", "baud=4800 parity=e data=7 stop=2");
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM2"));
    EXPECT_EQ(m_fake->LastPath(), "/dev/ttyS1");
    DCB line = m_fake->LineState();
    EXPECT_EQ(line.BaudRate, 4800u);
    EXPECT_EQ(line.ByteSize, 7);
    EXPECT_EQ(line.Parity, EVENPARITY);
    EXPECT_EQ(line.StopBits, TWOSTOPBITS);

    port.reset();
    WriteProfileString("Communication", "Mode", "baud=fast");
    WriteProfileInt("Debug", "Verbose", 1);
    port = MakeFakePort();
    EXPECT_FALSE(port->Open("COM2"));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(EINVAL)) +
                              "\nThe profile's setting Mode=baud=fast in [Communication] is not a mode the port knows.\n");
    EXPECT_FALSE(port->IsOpen());
}

TEST_F(CommPortTest, PseudoTerminalKeepingEightBitsIsAMismatch) {
    // A pseudo-terminal forces 8 data bits without parity: the read-back
    // differs, and the box is shown although no call failed.
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    WriteProfileString("Communication", "Mode", "baud=4800 parity=e data=7 stop=2");
    WriteProfileInt("Debug", "Verbose", 1);
    CCommPort port(&m_reporter);
    EXPECT_FALSE(port.Open(pty.Path()));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0],
              "The port kept other line settings than it was given (rate, data bits, parity or stop bits).\n");
    // The report names the failure as ever and shows the device as it was when the open failed.
    auto lines = Lines(ErrorFile());
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "GetCommState() returned a different comm state from SetCommState()!");
    EXPECT_EQ(lines[3], "Open: 1");
    EXPECT_EQ(lines[5], "BaudRate    4800");
    EXPECT_EQ(lines[7], "Data Length 8");
}

TEST_F(CommPortTest, OpenReadAndWriteThroughAPseudoTerminal) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    int stateChanges = 0;
    CPortReporter reporter({}, [&] { ++stateChanges; });
    CCommPort port(&reporter);
    CRecordingTarget notify;
    port.SetNotifyWnd(&notify);
    ASSERT_TRUE(port.Open(pty.Path()));
    ASSERT_EQ(notify.Messages().size(), 1u);
    EXPECT_EQ(notify.Messages()[0].Code(), 0);
    EXPECT_EQ(stateChanges, 1);
    notify.Clear();

    unsigned char buf[64];
    unsigned count = sizeof buf;
    EXPECT_TRUE(port.Read(buf, count));
    EXPECT_EQ(count, 0u);
    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].Code(), 1);
    EXPECT_EQ(status[0].lParam, 0);

    notify.Clear();
    const std::string out = "1,K203XT";
    ASSERT_TRUE(port.Write(reinterpret_cast<const unsigned char*>(out.data()), out.size()));
    EXPECT_EQ(pty.Receive(out.size()), out);
    status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].Code(), 2);
    EXPECT_EQ(status[0].lParam, static_cast<std::intptr_t>(out.size()));

    // The line is raw: line ends, control characters and XON/XOFF pass as they are.
    const std::string in = std::string("23 Oct 1996\r\n\x03\x11\x13\x7f", 17);
    ASSERT_TRUE(pty.Send(in));
    EXPECT_EQ(ReadAvailable(port, in.size()), in);
}

TEST_F(CommPortTest, WriteNobodyReadsTimesOutWithStatusFour) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    WriteProfileInt("Communication", "WriteTimeOut", 100);
    CCommPort port(&m_reporter);
    CRecordingTarget notify;
    port.SetNotifyWnd(&notify);
    ASSERT_TRUE(port.Open(pty.Path()));
    notify.Clear();

    // Far more than the pseudo-terminal buffers while nobody reads the master.
    std::vector<unsigned char> block(1 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.Write(block.data(), block.size()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(10));  // it did not hang

    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].Code(), 4);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CommPortTest, ClosedPortRefusesQuietlyExceptReadAndWrite) {
    WriteProfileInt("Debug", "Verbose", 1);
    CCommPort port(&m_reporter);
    CRecordingTarget notify;
    port.SetNotifyWnd(&notify);
    DCB dcb{};
    EXPECT_FALSE(port.FlushWrites(CCommPort::PURGE_INPUT | CCommPort::DRAIN_OUTPUT));
    EXPECT_FALSE(port.SendBreak());
    EXPECT_FALSE(port.Reset());
    EXPECT_FALSE(port.GetDCB(dcb));
    EXPECT_FALSE(port.SetDCB(dcb));
    EXPECT_FALSE(port.SetReadTimeouts(0, 0, 0));
    EXPECT_TRUE(notify.Messages().empty());
    EXPECT_TRUE(m_boxes.empty());

    unsigned char buf[16];
    unsigned count = sizeof buf;
    EXPECT_FALSE(port.Read(buf, count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(port.Write(buf, 4));
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(EBADF)) + "\n");
    EXPECT_EQ(m_boxes[1], m_boxes[0]);
    EXPECT_TRUE(notify.Messages().empty());
}

// Two characters at the line's rate, start to stop bits, and never under 10 ms.
TEST(BreakHold, IsTwoCharactersAtTheLineRateAndAtLeastTenMs) {
    struct TCase {
        std::uint32_t baud;
        std::uint8_t dataBits, parity, stopBits;
        unsigned ms;
    };
    const TCase kCases[] = {
        {300, 8, NOPARITY, ONESTOPBIT, 67},      // 20 bits
        {1200, 8, NOPARITY, ONESTOPBIT, 17},     // 16.7 ms
        {1200, 7, EVENPARITY, TWOSTOPBITS, 19},  // 22 bits
        {1200, 8, NOPARITY, ONE5STOPBITS, 18},   // 21 bits
        {1200, 5, MARKPARITY, ONESTOPBIT, 14},   // 16 bits: 13.3 ms
        {2400, 8, NOPARITY, ONESTOPBIT, 10},     // 8.3 ms
        {9600, 8, NOPARITY, ONESTOPBIT, 10},
        {115200, 8, NOPARITY, ONESTOPBIT, 10},
    };
    for (const auto& c : kCases) {
        DCB line;
        line.BaudRate = c.baud;
        line.ByteSize = c.dataBits;
        line.Parity = c.parity;
        line.StopBits = c.stopBits;
        EXPECT_EQ(CCommPort::BreakHoldMs(line), c.ms) << c.baud << " baud, " << int(c.dataBits) << " data bits";
    }
}

TEST_F(CommPortTest, FlushWritesFlagsChooseDrainAndPurgeAndBreakIsSetThenCleared) {
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    EXPECT_TRUE(port->SendBreak());
    EXPECT_EQ(m_fake->BreakCalls(), (std::vector<bool>{true, false}));

    ASSERT_TRUE(m_fake->PeerWrite("stale"));
    EXPECT_TRUE(port->FlushWrites(CCommPort::PURGE_INPUT));
    EXPECT_EQ(m_fake->DrainCalls(), 0);
    EXPECT_TRUE(m_fake->LastPurgeInput());
    EXPECT_FALSE(m_fake->LastPurgeOutput());
    unsigned char buf[16];
    unsigned count = sizeof buf;
    EXPECT_TRUE(port->Read(buf, count));
    EXPECT_EQ(count, 0u);  // the input was discarded

    EXPECT_TRUE(port->FlushWrites(CCommPort::DRAIN_OUTPUT));
    EXPECT_EQ(m_fake->DrainCalls(), 1);
    EXPECT_FALSE(m_fake->LastPurgeInput());
    EXPECT_TRUE(m_fake->LastPurgeOutput());

    // Output that cannot be drained is reported and nothing is purged.
    port.reset();
    WriteProfileInt("Debug", "Verbose", 1);
    port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM1"));
    const int purges = m_fake->PurgeCalls();
    m_fake->SetDrainError(ETIMEDOUT);
    EXPECT_FALSE(port->FlushWrites(CCommPort::PURGE_INPUT | CCommPort::DRAIN_OUTPUT));
    EXPECT_EQ(m_fake->PurgeCalls(), purges);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(ETIMEDOUT)) + "\n");
    EXPECT_TRUE(port->IsOpen());
}

TEST_F(CommPortTest, ResetReportsNewLineErrorsInOrder) {
    CSerialDevice::TErrorCounts counts;
    counts.brk = 5;  // counted before the port was opened: not ours
    m_fake->SetErrorCounts(counts);
    auto port = MakeFakePort();
    CRecordingTarget notify;
    port->SetNotifyWnd(&notify);
    ASSERT_TRUE(port->Open("COM1"));
    notify.Clear();

    EXPECT_TRUE(port->Reset());
    EXPECT_TRUE(notify.Messages().empty());
    EXPECT_TRUE(m_fake->LastPurgeInput());
    EXPECT_TRUE(m_fake->LastPurgeOutput());

    counts.parity = 2;
    counts.frame = 1;
    m_fake->SetErrorCounts(counts);
    EXPECT_TRUE(port->Reset());
    auto texts = notify.Messages(WM_STATUSTEXT);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].wParam, 40002u);
    EXPECT_EQ(texts[1].wParam, 40007u);
    EXPECT_EQ(GetString(static_cast<unsigned>(texts[0].wParam)), "Framing error detected.");

    // Reported once: the next Reset starts from here.
    notify.Clear();
    EXPECT_TRUE(port->Reset());
    EXPECT_TRUE(notify.Messages().empty());
}

TEST_F(CommPortTest, FailedLineStateCallsCloseThePort) {
    WriteProfileInt("Debug", "Verbose", 1);
    auto port = MakeFakePort();
    CRecordingTarget notify;
    port->SetNotifyWnd(&notify);
    ASSERT_TRUE(port->Open("COM1"));
    notify.Clear();

    // Text without a number asks for 0 baud, which the device refuses.
    CPortSettings chosen;
    chosen.SetBaud("fast");
    EXPECT_FALSE(port->ApplySettings(chosen));
    EXPECT_FALSE(port->IsOpen());
    EXPECT_FALSE(m_fake->IsOpen());
    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].Code(), -1);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(EINVAL)) + "\n");
}

TEST_F(CommPortTest, ReadTimeoutsDecideHowLongARead) {
    WriteProfileInt("Communication", "ReadTimeOut", 100);
    auto port = MakeFakePort();
    CRecordingTarget notify;
    port->SetNotifyWnd(&notify);
    ASSERT_TRUE(port->Open("COM1"));
    // A total time-out shorter than "ReadTimeOut" completes the read.
    ASSERT_TRUE(port->SetReadTimeouts(0, 0, 20));
    unsigned char buf[10];
    unsigned count = sizeof buf;
    EXPECT_TRUE(port->Read(buf, count));
    EXPECT_EQ(count, 0u);

    // No read time-outs at all: the read waits for the whole count, then
    // "ReadTimeOut" gives up. What did come is still handed over.
    ASSERT_TRUE(port->SetReadTimeouts(0, 0, 0));
    ASSERT_TRUE(m_fake->PeerWrite("abc"));
    notify.Clear();
    count = sizeof buf;
    EXPECT_FALSE(port->Read(buf, count));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].Code(), 4);

    // A hung-up line fails at once instead of waiting out "ReadTimeOut".
    WriteProfileInt("Communication", "ReadTimeOut", 60000);
    m_fake->HangUp();
    const auto start = std::chrono::steady_clock::now();
    count = sizeof buf;
    EXPECT_FALSE(port->Read(buf, count));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(count, 0u);
}

TEST_F(CommPortTest, ReopenKeepsTheLineSettings) {
    auto port = MakeFakePort();
    ASSERT_TRUE(port->Open("COM3"));
    CPortSettings chosen;
    chosen.SetBaud("19200");
    ASSERT_TRUE(port->ApplySettings(chosen));

    // Reopen keeps the line settings; a plain Open takes them from "Mode".
    ASSERT_TRUE(port->Reopen("COM4"));
    EXPECT_EQ(m_fake->LineState().BaudRate, 19200u);
    EXPECT_EQ(m_fake->LastPath(), "/dev/ttyS3");
    ASSERT_TRUE(port->Open("COM4"));
    EXPECT_EQ(m_fake->LineState().BaudRate, 9600u);
}

TEST_F(CommPortTest, AccessDeniedNamesTheGroupThatOwnsTheDevice) {
    group* dialout = ::getgrnam("dialout");
    if (!dialout) GTEST_SKIP() << "no dialout group here";
    const std::string path = m_dir.File("ttyFAKE");
    WriteWholeFile(path, "");
    ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0660), 0);

    WriteProfileInt("Debug", "Verbose", 1);
    m_fake->SetOpenError(EACCES);
    auto port = MakeFakePort();
    EXPECT_FALSE(port->Open(path));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(EACCES)) +
                                      "\nAdd yourself to the group \"dialout\" (sudo usermod -aG dialout $USER), "
                                      "then log out and in again.\n");
}

TEST(CommPortNames, ComNamesStandForTheFirstFourSerialPorts) {
    EXPECT_EQ(CPortCatalogue::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(CPortCatalogue::DevicePath("com4"), "/dev/ttyS3");
    EXPECT_EQ(CPortCatalogue::DevicePath("COM5"), "COM5");
    EXPECT_EQ(CPortCatalogue::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

}  // namespace
