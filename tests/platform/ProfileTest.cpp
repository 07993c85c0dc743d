#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <set>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Profile.h"
#include "TestSupport.h"

namespace {

// Sets an environment variable for one test and puts the old value back.
class CEnvVar {
public:
    CEnvVar(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_had = true;
            m_old = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~CEnvVar() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

}  // namespace

TEST(Profile, SectionsAndKeysIgnoreCase) {
    CTestProfile profile;
    WriteWholeFile(profile.Path(), "[Communication]\nBaud=19200\n[DEBUG]\nverbose=1\n");
    EXPECT_EQ(GetProfileString("communication", "BAUD", "x"), "19200");
    EXPECT_EQ(GetProfileInt("Debug", "Verbose", 0), 1);

    ASSERT_TRUE(WriteProfileString("COMMUNICATION", "baud", "4800"));
    // The existing line is replaced, not a second section or key added.
    EXPECT_EQ(ReadWholeFile(profile.Path()), "[Communication]\nBaud=4800\n[DEBUG]\nverbose=1\n");
}

TEST(Profile, IntegersAreLeadingSignedDecimals) {
    CTestProfile profile;
    WriteWholeFile(profile.Path(),
                   "[S]\nneg=-12abc\nspaced= 42 \nword=abc\nempty=\nplus=+7\n"
                   "quoted=\"15\"\nhuge=99999999999\ntiny=-99999999999\nsign=-\n");
    EXPECT_EQ(GetProfileInt("S", "neg", 5), -12);
    EXPECT_EQ(GetProfileInt("S", "spaced", 5), 42);
    EXPECT_EQ(GetProfileInt("S", "word", 5), 0);     // present but not a number
    EXPECT_EQ(GetProfileInt("S", "empty", 5), 5);    // present but empty keeps the default
    EXPECT_EQ(GetProfileInt("S", "plus", 5), 7);
    EXPECT_EQ(GetProfileInt("S", "quoted", 5), 15);
    EXPECT_EQ(GetProfileInt("S", "huge", 5), INT_MAX);
    EXPECT_EQ(GetProfileInt("S", "tiny", 5), INT_MIN);
    EXPECT_EQ(GetProfileInt("S", "sign", 5), 0);
    EXPECT_EQ(GetProfileInt("S", "missing", 5), 5);
    EXPECT_EQ(GetProfileInt("Other", "neg", 5), 5);

    ASSERT_TRUE(WriteProfileInt("S", "written", -2147483647 - 1));
    EXPECT_EQ(GetProfileInt("S", "written", 0), INT_MIN);
}

TEST(Profile, ValuesAreTrimmedAndUnquoted) {
    CTestProfile profile;
    WriteWholeFile(profile.Path(),
                   "  [ Communication ]  \n"
                   "\tParity  =  No Parity \t\n"
                   "Quoted = \"  kept inside  \"\n"
                   "Lone = \"\n"
                   "Empty =\n"
                   "NoEquals\n"
                   "; CommPort=COM3\n"
                   "# Model=K205\n");
    EXPECT_EQ(GetProfileString("Communication", "Parity", "x"), "No Parity");
    EXPECT_EQ(GetProfileString("Communication", "Quoted", "x"), "  kept inside  ");
    EXPECT_EQ(GetProfileString("Communication", "Lone", "x"), "\"");
    EXPECT_EQ(GetProfileString("Communication", "Empty", "x"), "");  // present: no default
    EXPECT_EQ(GetProfileString("Communication", "NoEquals", "x"), "x");
    EXPECT_EQ(GetProfileString("Communication", "; CommPort", "x"), "x");
    EXPECT_EQ(GetProfileString("Communication", "CommPort", "x"), "x");
    EXPECT_EQ(GetProfileString("Communication", "Model", "x"), "x");
    EXPECT_EQ(GetProfileString("Communication", "# Model", "x"), "x");
}

TEST(Profile, RewriteKeepsEverythingElseByteForByte) {
    CTestProfile profile;
    const std::string before =
        "; written by hand\n"
        "stray=before any section\n"
        "\n"
        "[Communication]\n"
        "CommPort = COM2   ; odd spacing\n"
        "# a note\n"
        "Baud=9600\n"
        "\n"
        "; belongs to the next section\n"
        "[Vendor Stuff]\n"
        "Anything=goes here\n"
        "garbage line without equals\n";
    WriteWholeFile(profile.Path(), before);

    ASSERT_TRUE(WriteProfileString("communication", "baud", "19200"));
    ASSERT_TRUE(WriteProfileString("Communication", "Parity", "Even"));
    EXPECT_EQ(ReadWholeFile(profile.Path()),
              "; written by hand\n"
              "stray=before any section\n"
              "\n"
              "[Communication]\n"
              "CommPort = COM2   ; odd spacing\n"
              "# a note\n"
              "Baud=19200\n"
              "Parity=Even\n"
              "\n"
              "; belongs to the next section\n"
              "[Vendor Stuff]\n"
              "Anything=goes here\n"
              "garbage line without equals\n");
    // An inline ';' is part of the value, as the original functions read it.
    EXPECT_EQ(GetProfileString("Communication", "CommPort", ""), "COM2   ; odd spacing");
    EXPECT_EQ(GetProfileString("Vendor Stuff", "Anything", ""), "goes here");
}

TEST(Profile, WritesCreateSectionFileAndDirectory) {
    CTestProfile profile;
    const std::string path = profile.Dir() + "/new/deeper/tarvel.INI";
    SetProfilePath(path);
    ASSERT_TRUE(WriteProfileInt("Debug", "Verbose", 0));
    ASSERT_TRUE(WriteProfileInt("Intelligence", "AutoOpen", 1));
    ASSERT_TRUE(WriteProfileString("Debug", "Extra", "x"));
    EXPECT_EQ(ReadWholeFile(path), "[Debug]\nVerbose=0\nExtra=x\n\n[Intelligence]\nAutoOpen=1\n");

    // A last line without a line feed gets one before the new section.
    WriteWholeFile(path, "[A]\nk=v");
    ASSERT_TRUE(WriteProfileString("B", "k", "w"));
    EXPECT_EQ(ReadWholeFile(path), "[A]\nk=v\n\n[B]\nk=w\n");
    ASSERT_TRUE(WriteProfileString("B", "j", "u"));
    EXPECT_EQ(GetProfileString("a", "K", ""), "v");
    EXPECT_EQ(GetProfileString("b", "J", ""), "u");

    // Only the profile is left: no temporary files, no lock file.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(profile.Dir() + "/new/deeper"))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"tarvel.INI"}));
}

TEST(Profile, CrLfFilesKeepTheirLineEnds) {
    CTestProfile profile;
    WriteWholeFile(profile.Path(), "[Communication]\r\nBaud=4800\r\n");
    EXPECT_EQ(GetProfileString("Communication", "Baud", ""), "4800");
    EXPECT_EQ(GetProfileInt("Communication", "Baud", 0), 4800);
    ASSERT_TRUE(WriteProfileString("Communication", "Baud", "9600"));
    ASSERT_TRUE(WriteProfileString("Communication", "Parity", "Odd"));
    ASSERT_TRUE(WriteProfileString("Debug", "Verbose", "1"));
    EXPECT_EQ(ReadWholeFile(profile.Path()),
              "[Communication]\r\nBaud=9600\r\nParity=Odd\r\n\r\n[Debug]\r\nVerbose=1\r\n");
}

// Found by fuzzing: a file cut short after the CR of its last line.
TEST(Profile, ALastLineCutShortAfterItsCrKeepsItsValueWhenAKeyIsAdded) {
    CTestProfile profile;
    WriteWholeFile(profile.Path(), "t\r\n[Debug]\nVerbose=0\r");
    ASSERT_EQ(GetProfileString("Debug", "Verbose", ""), "0");
    ASSERT_TRUE(WriteProfileString("\x03", "o", "2u"));
    EXPECT_EQ(GetProfileString("Debug", "Verbose", ""), "0");
    ASSERT_TRUE(WriteProfileString("Debug", "Beep", "1"));
    EXPECT_EQ(GetProfileString("Debug", "Verbose", ""), "0");
    EXPECT_EQ(GetProfileString("\x03", "o", ""), "2u");

    // CRs before a line end are never part of a value, written after or not.
    WriteWholeFile(profile.Path(), "[Debug\nVerbose=\r\r");
    ASSERT_EQ(GetProfileString("Debug", "Verbose", "none"), "");
    ASSERT_TRUE(WriteProfileString("u", "\xff", ""));
    EXPECT_EQ(GetProfileString("Debug", "Verbose", "none"), "");
}

TEST(Profile, JunkNeverCrashesAndIsKept) {
    CTestProfile profile;
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 37) & 0xFF));
    junk.append(std::string(1 << 20, '['));  // one huge line without ']' or line feed
    WriteWholeFile(profile.Path(), junk);
    EXPECT_EQ(GetProfileString("Communication", "Baud", "dflt"), "dflt");
    EXPECT_EQ(GetProfileInt("Communication", "AutoOpen", 1), 1);

    ASSERT_TRUE(WriteProfileString("Communication", "Baud", "2400"));
    EXPECT_EQ(GetProfileString("Communication", "Baud", ""), "2400");
    const std::string after = ReadWholeFile(profile.Path());
    ASSERT_GE(after.size(), junk.size());
    EXPECT_EQ(after.compare(0, junk.size(), junk), 0);

    // Something far too big to be a profile is neither read nor replaced.
    ASSERT_EQ(truncate(profile.Path().c_str(), 17 << 20), 0);
    EXPECT_EQ(GetProfileString("Communication", "Baud", "dflt"), "dflt");
    EXPECT_FALSE(WriteProfileString("Communication", "Baud", "1200"));
    EXPECT_EQ(std::filesystem::file_size(profile.Path()), 17u << 20);
}

TEST(Profile, UnsafeWritesAreRefused) {
    CTestProfile profile;
    WriteWholeFile(profile.Path(), "[Communication]\nBaud=9600\n");
    // Each of these would inject lines or be read back under another name.
    EXPECT_FALSE(WriteProfileString("Communication", "Baud", "9600\n[Debug]\nVerbose=1"));
    EXPECT_FALSE(WriteProfileString("Communication", "Baud", std::string("96\0" "00", 5)));
    EXPECT_FALSE(WriteProfileString("Comm]unication", "Baud", "1"));
    EXPECT_FALSE(WriteProfileString("Communication", "Ba=ud", "1"));
    EXPECT_FALSE(WriteProfileString("Communication", ";Baud", "1"));
    EXPECT_FALSE(WriteProfileString("", "Baud", "1"));
    EXPECT_FALSE(WriteProfileString("Communication", "  ", "1"));
    EXPECT_EQ(ReadWholeFile(profile.Path()), "[Communication]\nBaud=9600\n");

    // A profile that exists but cannot be read is never replaced.
    SetProfilePath(profile.Dir());
    EXPECT_FALSE(WriteProfileString("Communication", "Baud", "1"));
    EXPECT_TRUE(std::filesystem::is_directory(profile.Dir()));
    EXPECT_EQ(GetProfileString("Communication", "Baud", "dflt"), "dflt");
}

TEST(Profile, WritesGoThroughASymbolicLink) {
    CTestProfile profile;
    const std::string target = profile.Dir() + "/real.ini";
    WriteWholeFile(target, "[S]\nk=1\n");
    ASSERT_EQ(symlink(target.c_str(), profile.Path().c_str()), 0);
    ASSERT_TRUE(WriteProfileInt("S", "k", 2));
    struct stat st {};
    ASSERT_EQ(lstat(profile.Path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadWholeFile(target), "[S]\nk=2\n");
}

TEST(Profile, NamesFollowTheProgramAndEnvironment) {
    SetProgramName("/usr/bin/tarvel");
    EXPECT_EQ(GetAppName(), "tarvel");
    SetProgramName("x/my.tool.bin");  // only the last extension goes
    EXPECT_EQ(GetAppName(), "my.tool");
    SetProgramName("");                // nothing usable keeps the name
    EXPECT_EQ(GetAppName(), "my.tool");
    SetProgramName("/opt/.hidden");    // a leading dot is not an extension
    EXPECT_EQ(GetAppName(), ".hidden");
    SetProgramName("clock-setup");

    SetProfilePath("");
    {
        CEnvVar xdg("XDG_CONFIG_HOME", "/cfg/home");
        EXPECT_EQ(GetProfilePath(), "/cfg/home/clock-setup.INI");
    }
    {
        CEnvVar xdg("XDG_CONFIG_HOME", nullptr);
        CEnvVar home("HOME", "/home/someone");
        EXPECT_EQ(GetProfilePath(), "/home/someone/.config/clock-setup.INI");
        CEnvVar relative("XDG_CONFIG_HOME", "relative/dir");  // not absolute: ignored
        EXPECT_EQ(GetProfilePath(), "/home/someone/.config/clock-setup.INI");
    }
    SetProfilePath("/somewhere/else.ini");
    EXPECT_EQ(GetProfilePath(), "/somewhere/else.ini");
    SetProfilePath("");
    SetProgramName("tarvel");
    EXPECT_EQ(GetAppName(), "tarvel");
}

TEST(Profile, TwoProcessesWritingAtOnceLoseNothing) {
    CTestProfile profile;
    WriteWholeFile(profile.Path(), "; shared\n[Communication]\nBaud=9600\n");
    // Each write adds a new key, so an update lost between the two writers
    // would leave a key missing for good.
    constexpr int kWrites = 200;
    pid_t children[2];
    const std::string prefixes[2] = {"First", "Second"};
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            bool ok = true;
            for (int i = 0; i < kWrites; ++i)
                ok = WriteProfileInt("Race", prefixes[c] + std::to_string(i), i) && ok;
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::set<std::string> expected = {"; shared", "[Communication]", "Baud=9600", "", "[Race]"};
    for (const std::string& prefix : prefixes)
        for (int i = 0; i < kWrites; ++i)
            expected.insert(prefix + std::to_string(i) + "=" + std::to_string(i));
    // Every line is whole and every key is there exactly once.
    std::istringstream lines(ReadWholeFile(profile.Path()));
    std::set<std::string> seen;
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(expected.count(line)) << "unexpected line: " << line;
        EXPECT_TRUE(seen.insert(line).second) << "repeated line: " << line;
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(GetProfileInt("race", "second199", 0), 199);
}

TEST(Profile, APipeInThePlaceOfTheProfileNeitherBlocksNorIsReplaced) {
    CTestProfile profile;
    ASSERT_EQ(::mkfifo(profile.Path().c_str(), 0600), 0);
    // Nobody writes the pipe: a blocking open would wait for good. A version
    // that does is set free after a generous wait, so the test fails instead.
    auto reads = std::async(std::launch::async, [] {
        return std::make_pair(GetProfileString("Communication", "Baud", "9600"),
                              WriteProfileString("Communication", "Baud", "4800"));
    });
    if (reads.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "blocked on the pipe";
        const int fd = ::open(profile.Path().c_str(), O_RDWR | O_NONBLOCK);
        reads.wait();
        if (fd >= 0) ::close(fd);
        return;
    }
    const auto got = reads.get();
    EXPECT_EQ(got.first, "9600");
    EXPECT_FALSE(got.second);
    EXPECT_TRUE(std::filesystem::is_fifo(profile.Path()));
}

TEST(Profile, AnotherUsersLinkInASharedFolderIsNotWrittenThrough) {
    CTestProfile profile;
    const std::string shared = profile.Dir() + "/shared";
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string precious = profile.Dir() + "/precious";
    WriteWholeFile(precious, "[S]\nk=1\n");
    const std::string link = shared + "/tarvel.INI";
    ASSERT_EQ(::symlink(precious.c_str(), link.c_str()), 0);
    if (::geteuid() != 0 || ::lchown(link.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "needs root to plant another user's link";
    SetProfilePath(link);
    EXPECT_FALSE(WriteProfileInt("S", "k", 2));
    EXPECT_EQ(ReadWholeFile(precious), "[S]\nk=1\n");
    EXPECT_EQ(std::filesystem::directory_iterator(shared)->path().filename(), "tarvel.INI");
    EXPECT_TRUE(std::filesystem::is_symlink(link));

    // Our own link there is written through.
    ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
    EXPECT_TRUE(WriteProfileInt("S", "k", 3));
    EXPECT_EQ(ReadWholeFile(precious), "[S]\nk=3\n");
}

TEST(Profile, DelaysAreHeldToAFewSecondsAndEachKeyIsToldOnce) {
    CTestProfile profile;
    CCapturedNotices notices;
    WriteWholeFile(profile.Path(), "[Communication]\nCharDelay=100000\nReadTimeOut=-5\nWriteTimeOut=5000\n");
    EXPECT_EQ(GetProfileDelayMs("CharDelay", 100), MAX_PROFILE_DELAY_MS);
    EXPECT_EQ(GetProfileDelayMs("CharDelay", 100), MAX_PROFILE_DELAY_MS);
    EXPECT_EQ(GetProfileDelayMs("ReadTimeOut", 1000), 0);
    EXPECT_EQ(GetProfileDelayMs("WriteTimeOut", 1000), 5000);  // the largest allowed
    EXPECT_EQ(GetProfileDelayMs("Missing", 100), 100);
    EXPECT_EQ(notices.notices, (std::vector<std::string>{
                                 "The profile's setting CharDelay=100000 is outside 0 to 5000 ms; 5000 ms is used.",
                                 "The profile's setting ReadTimeOut=-5 is outside 0 to 5000 ms; 0 ms is used.",
                             }));
}
