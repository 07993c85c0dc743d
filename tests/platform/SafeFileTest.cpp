// Opening, following and locking the user's files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>

#include "SafeFile.h"
#include "TestSupport.h"

namespace {

// Another user's id, for links "planted" by someone else (root only).
constexpr uid_t kOtherUser = 65534;

std::string Resolve(const std::string& path, bool& ok, std::string& reason) {
    std::string target;
    ok = ResolveSaveTarget(path, target, reason);
    return target;
}

TEST(SafeFile, OnlyRegularFilesOpenAndAPipeNeverBlocks) {
    CTempDir dir;
    std::string reason;
    WriteWholeFile(dir.File("plain"), "x");
    const int fd = OpenRegularFile(dir.File("plain"), reason);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(fd);

    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(OpenRegularFile(dir.File("fifo"), reason), -1);  // no writer: would block
    EXPECT_EQ(reason, "not a regular file");
    EXPECT_EQ(OpenRegularFile("/dev/null", reason), -1);
    EXPECT_EQ(reason, "not a regular file");
    EXPECT_EQ(OpenRegularFile(dir.Path(), reason), -1);
    EXPECT_EQ(reason, "Is a directory");
    EXPECT_EQ(OpenRegularFile(dir.File("missing"), reason), -1);
    EXPECT_EQ(reason, "No such file or directory");
}

TEST(SafeFile, LinksAreFollowedToTheirEndAndADanglingOneGivesItsTarget) {
    CTempDir dir;
    bool ok = false;
    std::string reason;
    WriteWholeFile(dir.File("real"), "x");
    EXPECT_EQ(Resolve(dir.File("real"), ok, reason), dir.File("real"));
    EXPECT_TRUE(ok);

    std::filesystem::create_directory(dir.File("sub"));
    std::filesystem::create_symlink("../real", dir.File("sub/up"));  // relative to its own folder
    std::filesystem::create_symlink("sub/up", dir.File("chain"));
    EXPECT_EQ(Resolve(dir.File("chain"), ok, reason), dir.File("sub/../real"));
    EXPECT_TRUE(ok);

    std::filesystem::create_symlink(dir.File("new.hcs"), dir.File("dangling"));
    EXPECT_EQ(Resolve(dir.File("dangling"), ok, reason), dir.File("new.hcs"));
    EXPECT_TRUE(ok);

    std::filesystem::create_symlink("loop", dir.File("loop"));
    Resolve(dir.File("loop"), ok, reason);
    EXPECT_FALSE(ok);
    EXPECT_EQ(reason, "Too many levels of symbolic links");
}

TEST(SafeFile, InAStickySharedFolderOnlyTheOwnersLinksAreFollowed) {
    CTempDir dir;
    const std::string shared = dir.File("shared");
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    WriteWholeFile(dir.File("precious"), "root's");
    const std::string planted = shared + "/office.txt";
    std::filesystem::create_symlink(dir.File("precious"), planted);
    if (::geteuid() != 0 || ::lchown(planted.c_str(), kOtherUser, kOtherUser) != 0)
        GTEST_SKIP() << "needs root to plant another user's link";

    bool ok = true;
    std::string reason;
    Resolve(planted, ok, reason);
    EXPECT_FALSE(ok);
    EXPECT_EQ(reason, "a symbolic link in a shared folder that another user owns is not followed");

    // Our own link there is followed, as the kernel would.
    ASSERT_EQ(::lchown(planted.c_str(), ::geteuid(), ::getegid()), 0);
    EXPECT_EQ(Resolve(planted, ok, reason), dir.File("precious"));
    EXPECT_TRUE(ok);
    // So is the folder owner's link.
    ASSERT_EQ(::chown(shared.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(::lchown(planted.c_str(), kOtherUser, kOtherUser), 0);
    Resolve(planted, ok, reason);
    EXPECT_TRUE(ok);
    // Not sticky: any link is followed.
    ASSERT_EQ(::chown(shared.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    Resolve(planted, ok, reason);
    EXPECT_TRUE(ok);
}

TEST(FileLock, ASecondHolderWaitsGivesUpAndFollowsAReplacedFile) {
    CTempDir dir;
    const std::string path = dir.File("setup.hcs");
    WriteWholeFile(path, "old");
    CFileLock first;
    ASSERT_EQ(first.Lock(path, 0, false), CFileLock::LOCKED);
    // The same thread may lock again (a save inside a held update).
    {
        CFileLock inner;
        EXPECT_EQ(inner.Lock(path, 0, false), CFileLock::LOCKED);
    }

    // Another thread waits its time, then gives up.
    auto other = [&](unsigned waitMs) {
        return std::async(std::launch::async, [&, waitMs] {
            CFileLock second;
            return second.Lock(path, waitMs, false);
        });
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(other(200).get(), CFileLock::BUSY);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

    // The holder replaces the file and lets go: the waiter gets the new one.
    auto waiter = std::async(std::launch::async, [&] {
        CFileLock second;
        const CFileLock::TResult r = second.Lock(path, 60000, false);
        return std::make_pair(r, ReadWholeFile(path));
    });
    WriteWholeFile(dir.File("new"), "new");
    ASSERT_EQ(std::rename(dir.File("new").c_str(), path.c_str()), 0);
    first.Unlock();
    const auto got = waiter.get();
    EXPECT_EQ(got.first, CFileLock::LOCKED);
    EXPECT_EQ(got.second, "new");

    EXPECT_EQ(other(0).get(), CFileLock::LOCKED);
    EXPECT_EQ(first.Lock(dir.File("missing"), 0, false), CFileLock::NO_FILE);
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(first.Lock(dir.File("fifo"), 0, false), CFileLock::NOT_REGULAR);
    EXPECT_EQ(first.Lock(dir.File("created"), 0, true), CFileLock::LOCKED);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("created")));
}

}  // namespace
