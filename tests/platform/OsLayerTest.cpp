// What differs between systems, held to one behaviour on each (these run on
// Linux and under wine): bytes pass files and the standard streams
// unchanged, saves replace existing files, UTF-8 names reach the file system,
// the calendar converts both ways, the user's folders are found.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "OsLayer.h"
#include "Profile.h"
#include "SafeFile.h"
#include "TestSupport.h"

namespace {

// Every byte value, and the ones text mode changes in a row: a line feed
// (written as CR LF), a CR LF (read as LF) and 0x1A (read as the end).
std::string TrickyBytes() {
    std::string bytes("\n\r\n\x1A\n\x1A\x1A", 7);
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

std::string SuffixNew(const std::string& name) { return name + ".new"; }

std::string ReadThroughProgram(const std::string& path) {
    std::string reason, bytes;
    const int fd = OpenRegularFile(path, reason);
    char buffer[100];
    for (long long n; fd >= 0 && (n = ReadSome(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(n));
    if (fd >= 0) CloseFile(fd);
    return fd >= 0 ? bytes : "not opened: " + reason;
}

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(PathFromUtf8(folder)))
        names.push_back(Utf8FromPath(entry.path().filename()));
    return names;
}

TEST(OsFiles, ASaveReplacesAnExistingFileWithTheExactBytes) {
    CTempDir dir;
    const std::string path = dir.File("setup.hcs");
    WriteWholeFile(path, "the old file");
    ASSERT_TRUE(ReplaceFileContents(path, TrickyBytes(), SuffixNew));
    EXPECT_EQ(ReadWholeFile(path), TrickyBytes());
    EXPECT_EQ(ReadThroughProgram(path), TrickyBytes());
    // Once more over the file just written; nothing is left beside it.
    ASSERT_TRUE(ReplaceFileContents(path, "second", SuffixNew));
    EXPECT_EQ(ReadWholeFile(path), "second");
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"setup.hcs"});
}

TEST(OsFiles, AReplaceThatFailsLeavesWhatWasThereAndNoTemporary) {
    CTempDir dir;
    std::filesystem::create_directory(PathFromUtf8(dir.File("folder")));
    WriteWholeFile(dir.File("folder/kept"), "kept");
    EXPECT_FALSE(ReplaceFileContents(dir.File("folder"), "bytes", SuffixNew));
    EXPECT_EQ(ReadWholeFile(dir.File("folder/kept")), "kept");
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"folder"});
}

TEST(OsStreams, StandardInputAndOutputCarryEveryByte) {
    CTempDir dir;
    WriteWholeFile(dir.File("in"), TrickyBytes());
    // Opened in the system's text mode, as a program's streams are handed to it.
    std::FILE* in = std::fopen(dir.File("in").c_str(), "r");
    std::FILE* out = std::fopen(dir.File("out").c_str(), "w");
    ASSERT_TRUE(in && out);
    std::fflush(stdout);
    const int savedIn = ::dup(0);
    const int savedOut = ::dup(1);
    ::dup2(::fileno(in), 0);
    ::dup2(::fileno(out), 1);
    std::fclose(in);
    std::fclose(out);

    SetBinaryStandardStreams();
    std::string got;
    char buffer[100];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) got.append(buffer, n);
    std::fwrite(TrickyBytes().data(), 1, TrickyBytes().size(), stdout);
    std::fflush(stdout);

    ::dup2(savedIn, 0);
    ::dup2(savedOut, 1);
    ::close(savedIn);
    ::close(savedOut);
    std::clearerr(stdin);
    EXPECT_EQ(got, TrickyBytes());
    EXPECT_EQ(ReadWholeFile(dir.File("out")), TrickyBytes());
}

TEST(OsPaths, Utf8NamesReachTheFileSystemAsTheyAre) {
    CTempDir dir;
    const std::string name = "Pr\xC3\xBC" "fstand-\xE6\x99\x82\xE8\xA8\x88.hcs";
    const std::filesystem::path folder = PathFromUtf8(dir.Path());
    ASSERT_TRUE(ReplaceFileContents(JoinPath(dir.Path(), name), "x", SuffixNew));
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{name});
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / std::filesystem::path(u8"Prüfstand-時計.hcs")));
    EXPECT_EQ(ReadThroughProgram(JoinPath(dir.Path(), name)), "x");

    // The profile in a folder and file of such names, created and read back.
    SetProfilePath(JoinPath(JoinPath(dir.Path(), "Einstellungen-\xC3\xA4"), "Uhr-\xC3\xB8.INI"));
    EXPECT_TRUE(WriteProfileString("Communication", "CommPort", "COM3"));
    EXPECT_TRUE(WriteProfileString("Communication", "Baud", "9600"));
    EXPECT_EQ(GetProfileString("Communication", "CommPort", ""), "COM3");
    EXPECT_EQ(GetProfileInt("Communication", "Baud", 0), 9600);
    SetProfilePath("");
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / std::filesystem::path(u8"Einstellungen-ä/Uhr-ø.INI")));
}

TEST(FileLockAnywhere, HeldAgainstOthersButNotAgainstTheHoldersOwnSave) {
    CTempDir dir;
    const std::string path = dir.File("setup.hcs");
    auto other = [&](unsigned waitMs) {
        return std::async(std::launch::async, [&, waitMs] { return CFileLock().Lock(path, waitMs, false); }).get();
    };
    CFileLock held;
    ASSERT_EQ(held.Lock(path, 0, true), CFileLock::LOCKED);
    EXPECT_EQ(FileKind(path, true), TFileKind::Regular);
    EXPECT_EQ(CFileLock().Lock(path, 0, false), CFileLock::LOCKED);  // the same thread again
    EXPECT_EQ(other(100), CFileLock::BUSY);
    EXPECT_TRUE(ReplaceFileContents(path, "saved while held", SuffixNew));
    held.Unlock();
    EXPECT_EQ(other(0), CFileLock::LOCKED);
    EXPECT_EQ(held.Lock(dir.File("missing"), 0, false), CFileLock::NO_FILE);
    EXPECT_EQ(held.Lock(dir.Path(), 0, false), CFileLock::NOT_REGULAR);
}

TEST(OsCalendar, UtcDatesConvertBothWaysAndLocalTimeIsWithinAZoneOfThem) {
    const std::pair<std::time_t, std::string> rows[] = {
        {86400, "1970-01-02 00:00:00"},      {951782400, "2000-02-29 00:00:00"},
        {1700000000, "2023-11-14 22:13:20"}, {2147483648, "2038-01-19 03:14:08"},
        {4102444799, "2099-12-31 23:59:59"},
    };
    for (const auto& [t, date] : rows) {
        std::tm utc{};
        ASSERT_TRUE(UtcCalendar(t, utc));
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
        EXPECT_EQ(text, date);
        EXPECT_EQ(TimeOfUtc(utc), t) << date;
        std::tm local{};
        ASSERT_TRUE(LocalCalendar(t, local));
        EXPECT_LE(std::llabs(static_cast<long long>(TimeOfUtc(local) - t)), 14 * 3600) << date;
    }
}

TEST(OsFolders, TheUsersFoldersAreFoundWhereverTheProgramStarts) {
    EXPECT_TRUE(PathFromUtf8(UserConfigFolder()).is_absolute()) << UserConfigFolder();
    const std::string data = UserDataFolder();
    EXPECT_TRUE(data.empty() || PathFromUtf8(data).is_absolute()) << data;
}

}  // namespace
