// Setup files and dumps where they are not plain files: pipes, devices,
// links, and two writers at once; in the library and through tarvelctl.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

std::string ZeroFile() {
    return std::string("\x01\0\0\0", 4) + std::string("Halvern Clock State\0", 20) + std::string(130, '\0');
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string SavedBytes(const CClockState& state) {
    std::ostringstream out;
    state.Serialize(out);
    return out.str();
}

std::string DumpOf(const CClockState& state) {
    std::ostringstream out;
    state.Dump(out);
    return out.str();
}

// Runs fn on a thread; a version that hangs on the pipe is set free after a
// generous wait (its open is met from the other side) and counts as hung.
bool FinishesWithoutThePipe(const std::string& fifo, std::function<void()> fn) {
    auto done = std::async(std::launch::async, std::move(fn));
    if (done.wait_for(20s) == std::future_status::ready) {
        done.get();
        return true;
    }
    const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    done.wait();
    if (fd >= 0) ::close(fd);
    return false;
}

CFileError::TKind KindOf(std::function<void()> fn) {
    try {
        fn();
    } catch (const CFileError& e) {
        return e.GetKind();
    }
    ADD_FAILURE() << "no CFileError";
    return CFileError::READ_FAILED;
}

TEST(SetupFile, PipesAndDevicesAreRefusedWithoutWaitingOnThem) {
    CTempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CClockState state;
    CFileError::TKind load = CFileError::READ_FAILED, save = CFileError::OPEN_FAILED, dump = save;
    EXPECT_TRUE(FinishesWithoutThePipe(fifo, [&] { load = KindOf([&] { LoadConfigFile(state, fifo); }); }));
    EXPECT_EQ(load, CFileError::OPEN_FAILED);
    EXPECT_TRUE(FinishesWithoutThePipe(fifo, [&] { save = KindOf([&] { SaveConfigFile(state, fifo); }); }));
    EXPECT_EQ(save, CFileError::WRITE_FAILED);
    EXPECT_TRUE(FinishesWithoutThePipe(fifo, [&] { dump = KindOf([&] { DumpConfigFile(state, fifo); }); }));
    EXPECT_EQ(dump, CFileError::WRITE_FAILED);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_FALSE(state.IsValid());

    // A device chosen as the dump's file is left alone, and says why.
    try {
        DumpConfigFile(state, "/dev/null");
        ADD_FAILURE() << "a dump into /dev/null counted as written";
    } catch (const CFileError& e) {
        EXPECT_EQ(e.GetKind(), CFileError::WRITE_FAILED);
        EXPECT_EQ(e.GetReason(), "not a regular file");
        EXPECT_EQ(e.GetPath(), "/dev/null");
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"fifo"});
}

TEST(SetupFile, SaveThroughADanglingLinkCreatesItsTarget) {
    CTempDir dir;
    std::filesystem::create_directory(dir.File("setups"));
    std::filesystem::create_symlink("setups/office.hcs", dir.File("current.hcs"));
    SaveConfigFile(CClockState(), dir.File("current.hcs"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("current.hcs")));
    EXPECT_EQ(ReadWholeFile(dir.File("setups/office.hcs")), ZeroFile());
    // And a link to a link to the file is written through both.
    std::filesystem::create_symlink("current.hcs", dir.File("again.hcs"));
    CClockState state;
    state.SetItem(18, 100, false);
    SaveConfigFile(state, dir.File("again.hcs"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("again.hcs")));
    EXPECT_NE(ReadWholeFile(dir.File("setups/office.hcs")), ZeroFile());
    EXPECT_EQ(DirectoryEntries(dir.File("setups")), std::vector<std::string>{"office.hcs"});
}

TEST(SetupFile, AnotherUsersLinkInASharedFolderIsNotSavedThrough) {
    CTempDir dir;
    const std::string shared = dir.File("tmp");
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    WriteWholeFile(dir.File("precious"), "root's own");
    const std::string planted = shared + "/office.txt";
    std::filesystem::create_symlink(dir.File("precious"), planted);
    if (::geteuid() != 0 || ::lchown(planted.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "needs root to plant another user's link";

    const CClockState state;
    EXPECT_EQ(KindOf([&] { DumpConfigFile(state, planted); }), CFileError::WRITE_FAILED);
    EXPECT_EQ(KindOf([&] { SaveConfigFile(state, planted); }), CFileError::WRITE_FAILED);
    EXPECT_EQ(ReadWholeFile(dir.File("precious")), "root's own");
    EXPECT_TRUE(std::filesystem::is_symlink(planted));
    EXPECT_EQ(DirectoryEntries(shared), std::vector<std::string>{"office.txt"});

    // Once it is our own link, it is followed as before.
    ASSERT_EQ(::lchown(planted.c_str(), 0, 0), 0);
    DumpConfigFile(state, planted);
    EXPECT_EQ(ReadWholeFile(dir.File("precious")), DumpOf(state));
}

TEST(SetupFileLock, ASecondWriterWaitsThenFailsWithAClearReason) {
    CTempDir dir;
    const std::string path = dir.File("a.hcs");
    SaveConfigFile(CClockState(), path);
    auto held = std::make_unique<CSetupFileLock>();
    held->Lock(path);

    // Another writer gives up after its wait and changes nothing.
    auto other = std::async(std::launch::async, [&] {
        try {
            CSetupFileLock second;
            second.Lock(path, 300);
            return std::string("locked");
        } catch (const CFileError& e) {
            return std::string(e.GetKind() == CFileError::WRITE_FAILED ? "W: " : "?: ") + e.GetReason();
        }
    });
    EXPECT_EQ(other.get(), "W: another program is changing this file; try again when it has finished");

    // A save on another thread waits for the holder, then replaces the file.
    CClockState theirs;
    theirs.SetItem(18, 100, false);
    auto save = std::async(std::launch::async, [&] { SaveConfigFile(theirs, path); });
    EXPECT_EQ(save.wait_for(200ms), std::future_status::timeout);
    EXPECT_EQ(ReadWholeFile(path), ZeroFile());
    held.reset();  // let go
    save.get();
    EXPECT_EQ(ReadWholeFile(path), SavedBytes(theirs));

    // The holder's own save, the end of its read-modify-write, goes ahead
    // at once instead of waiting for itself.
    held = std::make_unique<CSetupFileLock>();
    held->Lock(path);
    const auto start = std::chrono::steady_clock::now();
    SaveConfigFile(CClockState(), path);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(CSetupFileLock::WAIT_MS));
    EXPECT_EQ(ReadWholeFile(path), ZeroFile());
}

// tarvelctl, run as a user would, with its own profile and working folder.
class SetupFileCli : public ::testing::Test {
protected:
    using TRun = TCtlResult;

    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        std::filesystem::create_directories(m_dir.File("work"));
        m_ctl.SetWorkDir(m_dir.File("work"));
        m_ctl.WriteProfile("[Communication]\nCharDelay=10\n");
    }

    TRun Run(const std::vector<std::string>& args) { return m_ctl.Run(args); }
    std::string File(const std::string& name) { return m_dir.File("work/" + name); }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
};

TEST_F(SetupFileCli, SixParallelSetsKeepAllSixChanges) {
    const std::vector<std::string> changes = {"3=9600", "6=Even", "5=2", "56=West", "37=60000", "11=On"};
    for (int round = 0; round < 3; ++round) {
        const std::string path = File("shared" + std::to_string(round) + ".hcs");
        ASSERT_EQ(Run({"new", path}).status, 0);
        std::vector<pid_t> pids;
        for (std::size_t i = 0; i < changes.size(); ++i)
            pids.push_back(m_ctl.Start({"set", path, changes[i]}));
        for (const pid_t pid : pids) {
            const TRun r = m_ctl.Finish(pid);
            EXPECT_EQ(r.status, 0) << r.err;
        }
        const TRun r = Run({"get", path, "3", "6", "5", "56", "37", "11"});
        EXPECT_EQ(r.out, "9600\nEven\n2\nWest\n60000\nOn\n") << "round " << round;
    }
    // Nothing is left beside the files: no lock files, no temporaries.
    EXPECT_EQ(DirectoryEntries(m_dir.File("work")),
              (std::vector<std::string>{"shared0.hcs", "shared1.hcs", "shared2.hcs"}));
}

TEST_F(SetupFileCli, PipesNeverHangItAndTheDumpStillFeedsStandardOutput) {
    const std::string fifo = File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string good = File("good.hcs");
    ASSERT_EQ(Run({"new", good}).status, 0);

    TRun r = Run({"dump", fifo});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvelctl: Error Opening File! " + fifo + ": not a regular file\n");
    r = Run({"set", fifo, "3=9600"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(fifo), std::string::npos) << r.err;
    r = Run({"dump", good, "-o", fifo});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvelctl: Error Saving File! " + fifo + ": not a regular file\n");
    r = Run({"dump", good, "-o", "/dev/null"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error Saving File!"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // Without -o the dump goes to standard output, here a pipe.
    m_ctl.SetStdoutPipe(true);
    r = Run({"dump", good});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, DumpOf(CClockState()));
}

TEST_F(SetupFileCli, AFailedOpenLeavesNoReportFileAndSaysWhyOnStandardError) {
    TRun r = Run({"--port", "/dev/tarvel-no-such-tty", "time", "get"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::strerror(ENOENT)), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("CreateFile"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(File("commport_err.txt")));
}

TEST_F(SetupFileCli, ARefusedStoredSettingIsNamed) {
    m_ctl.WriteProfile("[Communication]\nCharDelay=10\nParity=no parity\n");
    TRun r = Run({"--port", "SIM", "time", "get"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Parity=no parity"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No Parity, Odd, Even"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(File("commport_err.txt")));
}

}  // namespace
