// Who holds a busy port: a fake /proc and lock directory for every way a
// holder shows, and a real child process holding a real pseudo-terminal.
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "PortCatalogue.h"
#include "PortHolder.h"
#include "SerialTestSupport.h"

namespace fs = std::filesystem;

namespace {

class PortHolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarvel-holder-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_root = tmpl;
        m_roots.proc = (m_root / "proc").string();
        m_roots.lockDirs[0] = (m_root / "lock").string();
        m_roots.lockDirs[1].clear();
        fs::create_directories(m_root / "proc");
        fs::create_directories(m_root / "lock");
        fs::create_directories(m_root / "dev");
        m_device = (m_root / "dev" / "ttyUSB7").string();
        std::ofstream(m_device) << "";
    }
    void TearDown() override { fs::remove_all(m_root); }

    void Process(int pid, const std::string& name) {
        const fs::path dir = m_root / "proc" / std::to_string(pid);
        fs::create_directories(dir / "fd");
        std::ofstream(dir / "comm") << name << "\n";
    }
    void OpenFile(int pid, int fd, const std::string& target) {
        fs::create_symlink(target, m_root / "proc" / std::to_string(pid) / "fd" / std::to_string(fd));
    }
    // A /proc/locks line for the device's node.
    std::string LockLine(int number, const std::string& kind, int pid) {
        struct stat st {};
        ::stat(m_device.c_str(), &st);
        char line[160];
        std::snprintf(line, sizeof line, "%d: %s ADVISORY  WRITE %d %02x:%02x:%llu 0 EOF\n", number, kind.c_str(),
                      pid, ::major(st.st_dev), ::minor(st.st_dev), static_cast<unsigned long long>(st.st_ino));
        return line;
    }

    fs::path m_root;
    std::string m_device;
    CPortHolder::TRoots m_roots;
};

TEST_F(PortHolderTest, HoldersAreFoundByDescriptorLockAndLockFileEachOnce) {
    Process(812, "ModemManager");
    OpenFile(812, 5, m_device);
    Process(900, "bash");
    OpenFile(900, 0, (m_root / "lock").string());  // something else open
    Process(1234, "minicom");
    OpenFile(1234, 3, m_device);  // both open and locked: named once
    Process(4321, "picocom");
    std::ofstream(m_root / "proc" / "locks") << LockLine(1, "FLOCK ", 1234)
                                            << "1: -> FLOCK  ADVISORY  WRITE 999 00:05:1 0 EOF\n"
                                            << LockLine(2, "POSIX ", 999)  // waiter's pid, gone
                                            << "garbage line\n3: FLOCK ADVISORY WRITE x zz:1:2 0 EOF\n";
    std::ofstream(m_root / "lock" / "LCK..ttyUSB7") << "      4321\n";
    std::ofstream(m_root / "lock" / "LCK..ttyUSB8") << "      900\n";  // another device

    const auto holders = CPortHolder::Find(m_device, m_roots);
    std::string seen;
    for (const auto& h : holders) seen += h.name + "/" + std::to_string(h.pid) + " ";
    ASSERT_EQ(holders.size(), 3u) << seen;
    EXPECT_EQ(holders[0].pid, 812);
    EXPECT_EQ(holders[0].name, "ModemManager");
    EXPECT_EQ(holders[1].pid, 1234);
    EXPECT_EQ(holders[1].name, "minicom");
    EXPECT_EQ(holders[2].pid, 4321);
    EXPECT_EQ(holders[2].name, "picocom");

    const std::string hint = CPortHolder::BusyHint(m_device, m_roots);
    EXPECT_EQ(hint.substr(0, hint.find('\n')),
              "The port is in use by ModemManager (pid 812), minicom (pid 1234) and picocom (pid 4321).");
    // What to do about ModemManager, once.
    EXPECT_NE(hint.find("\nModemManager probes serial devices"), std::string::npos) << hint;
    EXPECT_EQ(hint.find('\n'), hint.rfind('\n'));
}

TEST_F(PortHolderTest, StaleOrUnreadableLocksNameNobody) {
    // A lock file of a process that has ended, a binary pid of one that has,
    // and a lock file that is not a number at all.
    std::ofstream(m_root / "lock" / "LCK..ttyUSB7") << "  5555\n";
    EXPECT_TRUE(CPortHolder::Find(m_device, m_roots).empty());
    const int binary = 6666;
    std::ofstream(m_root / "lock" / "LCK..ttyUSB7", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(&binary), sizeof binary);
    EXPECT_TRUE(CPortHolder::Find(m_device, m_roots).empty());
    Process(6666, "cu");
    ASSERT_EQ(CPortHolder::Find(m_device, m_roots).size(), 1u);
    std::ofstream(m_root / "lock" / "LCK..ttyUSB7", std::ios::trunc) << "\xff\xfe not a pid at all";
    EXPECT_TRUE(CPortHolder::Find(m_device, m_roots).empty());
    EXPECT_EQ(CPortHolder::BusyHint(m_device, m_roots), "The port is in use by another program.");
    // No such device and no /proc at all: still a plain answer.
    m_roots.proc = (m_root / "none").string();
    EXPECT_EQ(CPortHolder::BusyHint("/dev/nonexistent-tty", m_roots), "The port is in use by another program.");
}

TEST_F(PortHolderTest, BrlttyIsNamedForAMissingUsbAdapterOnly) {
    EXPECT_EQ(CPortHolder::VanishedHint("/dev/ttyUSB0", m_roots), "");
    Process(77, "brltty");
    Process(78, "brltty-helper");
    const std::string hint = CPortHolder::VanishedHint("/dev/ttyUSB0", m_roots);
    EXPECT_EQ(hint.substr(0, hint.find('\n')),
              "The device is gone while brltty (pid 77) runs: brltty may have taken the USB serial adapter.");
    EXPECT_NE(hint.find("\nbrltty takes some USB serial adapters"), std::string::npos);
    EXPECT_NE(CPortHolder::VanishedHint("/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0", m_roots), "");
    EXPECT_EQ(CPortHolder::VanishedHint("/dev/ttyS5", m_roots), "");
    EXPECT_EQ(CPortHolder::FindProcesses("brltty", m_roots.proc), (std::vector<int>{77}));
}

// A real process that has renamed itself ModemManager holds a real line the
// way tarvel does (flock); a second open names it and says what to do.
TEST(PortHolderLive, ASecondOpenNamesTheProcessHoldingTheLine) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::close(release[1]);  // else the read below never sees the end
        ::prctl(PR_SET_NAME, "ModemManager", 0, 0, 0);
        const int fd = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');

    const std::string hint = CPortCatalogue::OpenHint(EBUSY, pty.Path());
    ::close(release[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    EXPECT_NE(hint.find("ModemManager (pid " + std::to_string(child) + ")"), std::string::npos) << hint;
    EXPECT_NE(hint.find("sudo systemctl disable --now ModemManager"), std::string::npos) << hint;
}

}  // namespace
