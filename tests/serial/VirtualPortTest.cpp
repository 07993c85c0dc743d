// Ports that are no device file (registered by name), and the line that
// tells the user what to do when an open fails.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "FakeSysfs.h"
#include "PortCatalogue.h"
#include "SerialTestSupport.h"

namespace {

const char kMissingLine[] = "No such device. Is the clock's cable or USB adapter plugged in?";

// Registers "VIRT" on a fake device for one test.
class CVirtualPortGuard {
public:
    explicit CVirtualPortGuard(std::shared_ptr<CFakeSerialDevice> device) {
        CPortCatalogue::RegisterVirtualPort("VIRT", "test line", [device] { return device; });
    }
    ~CVirtualPortGuard() { CPortCatalogue::UnregisterVirtualPort("VIRT"); }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class VirtualPortTest : public CSerialTest {
protected:
    // The message box of a failed open on the ordinary device, split in lines.
    std::vector<std::string> FailedOpenLines(int err, const std::string& name) {
        m_boxes.clear();
        m_fake->SetOpenError(err);
        auto port = MakeFakePort();
        EXPECT_FALSE(port->Open(name));
        m_fake->SetOpenError(0);
        return m_boxes.size() == 1 ? Lines(m_boxes[0]) : std::vector<std::string>{};
    }
    std::shared_ptr<CFakeSerialDevice> m_virtual = std::make_shared<CFakeSerialDevice>();
};

TEST_F(VirtualPortTest, ListedAfterTheSerialPortsAndOpenedByNameOrListedText) {
    CVirtualPortGuard guard(m_virtual);
    auto port = MakeFakePort();
    std::vector<std::string> ports;
    CPortSettings::ListPorts(ports);
    ASSERT_GE(ports.size(), 5u);
    EXPECT_EQ(ports[0].rfind("COM1 (", 0), 0u) << ports[0];
    EXPECT_EQ(ports.back(), "VIRT (test line)");

    // Any case, the listed text, stray blanks: all the same port, known by its name.
    for (const char* text : {"VIRT", "virt", "VIRT (test line)", " Virt (Test Line) "}) {
        ASSERT_TRUE(port->Open(text)) << text;
        std::string name;
        EXPECT_TRUE(port->GetPortName(name));
        EXPECT_EQ(name, "VIRT");
        EXPECT_EQ(m_virtual->LastPath(), "VIRT");
    }
    EXPECT_EQ(m_fake->OpenCount(), 0);

    // Anything else is a device path on the port's own devices.
    ASSERT_TRUE(port->Open("VIRTUAL"));
    EXPECT_EQ(m_fake->LastPath(), "VIRTUAL");
    EXPECT_EQ(CPortCatalogue::VirtualPortName("virt (TEST LINE)"), "VIRT");
    EXPECT_EQ(CPortCatalogue::VirtualPortName("VIRT (test"), "");
}

TEST_F(VirtualPortTest, StoredByNameAndReopenedAtStart) {
    CVirtualPortGuard guard(m_virtual);
    {
        auto port = MakeFakePort();
        ASSERT_TRUE(port->Open("virt (test line)"));
    }
    EXPECT_EQ(GetProfileString("Communication", "CommPort", ""), "VIRT");

    WriteProfileInt("Communication", "AutoOpen", 1);
    const int opensBefore = m_virtual->OpenCount();
    auto port = MakeFakePort();
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(m_virtual->OpenCount(), opensBefore + 1);
    EXPECT_EQ(m_fake->OpenCount(), 0);
}

TEST_F(VirtualPortTest, FailedOpenOfAVirtualPortGetsNoDeviceHint) {
    CVirtualPortGuard guard(m_virtual);
    WriteProfileInt("Debug", "Verbose", 1);
    m_virtual->SetOpenError(ENOENT);
    auto port = MakeFakePort();
    EXPECT_FALSE(port->Open("VIRT"));
    EXPECT_FALSE(port->IsOpen());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(ENOENT)) + "\n");
    std::string name;
    EXPECT_FALSE(port->GetPortName(name));  // never opened
}

TEST_F(VirtualPortTest, FailedOpenSaysWhatToDo) {
    WriteProfileInt("Debug", "Verbose", 1);
    for (int err : {EBUSY, EWOULDBLOCK}) {
        const auto lines = FailedOpenLines(err, "/dev/ttyUSB9");
        EXPECT_EQ(lines, (std::vector<std::string>{std::strerror(err), "The port is in use by another program."}))
            << err;
    }
    for (int err : {ENOENT, ENODEV, ENXIO, EIO}) {
        const auto lines = FailedOpenLines(err, "COM2");
        ASSERT_EQ(lines.size(), 3u) << err;
        EXPECT_EQ(lines[0], std::strerror(err));
        EXPECT_EQ(lines[1], kMissingLine);
        // What this machine has: either a list of devices or none.
        const bool none = lines[2] == "No serial ports were found.";
        EXPECT_TRUE(none || lines[2].rfind("Serial ports found: ", 0) == 0) << lines[2];
    }
    // Reasons the system text covers get no extra line.
    EXPECT_EQ(FailedOpenLines(EINVAL, "/dev/ttyUSB9"), (std::vector<std::string>{std::strerror(EINVAL)}));

    // The report file, for diagnosis, carries the failed call and the same lines before the state.
    FailedOpenLines(EBUSY, "/dev/ttyUSB9");
    const auto report = Lines(ErrorFile());
    ASSERT_GE(report.size(), 5u);
    EXPECT_EQ(report[0], "CreateFile");
    EXPECT_EQ(report[2], "The port is in use by another program.");
    EXPECT_EQ(report[4], "Open: 0");
}

TEST_F(VirtualPortTest, MissingDeviceNamesTheVirtualPortWhenNoSerialPortExists) {
    CVirtualPortGuard guard(m_virtual);
    CTempDir bare;  // a machine without serial ports
    CSysfsRootOverride none(bare.Path());
    WriteProfileInt("Debug", "Verbose", 1);
    const auto lines = FailedOpenLines(ENOENT, "/dev/ttyUSB9");
    ASSERT_EQ(lines.size(), 3u);
    if (lines[2].rfind("Serial ports found:", 0) == 0) GTEST_SKIP() << "this machine has serial ports";
    EXPECT_EQ(lines[2], "No serial ports were found. The port VIRT (test line) works without a clock.");
}

TEST_F(VirtualPortTest, SecondOpenerOfARealLineIsToldItIsBusy) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    WriteProfileInt("Debug", "Verbose", 1);
    CCommPort first(&m_reporter), second(&m_reporter);
    ASSERT_TRUE(first.Open(pty.Path()));
    EXPECT_FALSE(second.Open(pty.Path()));
    ASSERT_EQ(m_boxes.size(), 1u);
    const auto lines = Lines(m_boxes[0]);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::strerror(EBUSY));
    // The holder is this very process, through the first port's lock.
    std::ifstream comm("/proc/self/comm");
    std::string self;
    std::getline(comm, self);
    EXPECT_EQ(lines[1], "The port is in use by " + self + " (pid " + std::to_string(::getpid()) + ").");
}

}  // namespace
