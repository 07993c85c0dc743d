// The backups kept before writes: one safe, readable-back file name for any
// port, the newest 50 of each port kept, and a folder that must be ours.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "SetupBackups.h"
#include "TestSupport.h"

namespace {

TClockConfig Numbered(int n) {
    TClockConfig c{};
    c.backLight = static_cast<unsigned char>(n & 0xFF);
    c.option23a = static_cast<unsigned char>(n >> 8);
    return c;
}

int NumberOf(const std::string& path) {
    CClockState state;
    if (LoadConfigFile(state, path) != TLoadResult::Loaded) return -1;
    return state.GetConfig()->backLight | (state.GetConfig()->option23a << 8);
}

// Sets an environment variable for one test and puts the old value back.
class CEnvSetting {
public:
    CEnvSetting(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~CEnvSetting() {
        if (m_had) ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

TEST(SetupBackups, EveryPortNameGivesASafeFileNameThatReadsBack) {
    const std::vector<std::string> ports = {
        "/dev/ttyUSB0",
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9A5B3C1-if00-port0",
        "rfc2217://clock-7.example:4001",
        "tcp://[::1]:4001",
        "/dev/a_b",
        "/dev/a/b",
        "COM1",
        "a@b%c d\xC3\xA9",
        "..",
    };
    std::set<std::string> keys;
    for (const auto& port : ports) {
        const std::string key = CSetupBackups::EncodePort(port);
        EXPECT_EQ(key.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-%"),
                  std::string::npos)
            << key;
        std::string back;
        EXPECT_TRUE(CSetupBackups::DecodePort(key, back)) << key;
        EXPECT_EQ(back, port);
        keys.insert(key);

        TBackupEntry entry;
        ASSERT_TRUE(CSetupBackups::ParseName(key + "@K203@20250301T101502.123Z.hcs", entry)) << key;
        EXPECT_EQ(entry.port, port);
        EXPECT_EQ(entry.model, "K203");
        EXPECT_EQ(entry.stamp, "20250301T101502.123Z");
    }
    EXPECT_EQ(keys.size(), ports.size());  // no two ports share a name

    // Overlong names are cut but stay apart and inside a file name's limit.
    const std::string longA = "rfc2217://" + std::string(300, 'h') + "a:1";
    const std::string longB = "rfc2217://" + std::string(300, 'h') + "b:1";
    EXPECT_NE(CSetupBackups::EncodePort(longA), CSetupBackups::EncodePort(longB));
    EXPECT_LT(CSetupBackups::EncodePort(longA).size(), 130u);

    TBackupEntry entry;
    for (const char* name : {"notes.txt", "x@K201@20250301T101502.123Z.txt", "x@K201@2025-03-01.hcs",
                             "x@K201@20250301T101502.123Z-.hcs", "@K201@20250301T101502.123Z.hcs",
                             "x@@20250301T101502.123Z.hcs", "x%G1@K201@20250301T101502.123Z.hcs"})
        EXPECT_FALSE(CSetupBackups::ParseName(name, entry)) << name;
}

TEST(SetupBackups, TheNewestFiftyOfEachPortAreKept) {
    CTempDir dir;
    CSetupBackups backups(dir.File("data/tarvel/backups"));
    std::string path, reason;
    for (int n = 0; n < 2; ++n) ASSERT_TRUE(backups.Keep("/dev/ttyS1", "K205", Numbered(1000 + n), path, reason));
    for (int n = 0; n < 53; ++n) ASSERT_TRUE(backups.Keep("/dev/ttyS0", "K201", Numbered(n), path, reason)) << reason;
    WriteWholeFile(dir.File("data/tarvel/backups/README"), "not a backup");

    const std::vector<TBackupEntry> kept = backups.List("/dev/ttyS0");
    ASSERT_EQ(kept.size(), CSetupBackups::KEEP_PER_PORT);
    // Newest first, each file holding the setup kept: 52 down to 3.
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(NumberOf(kept[i].path), 52 - static_cast<int>(i)) << kept[i].path;
        EXPECT_EQ(kept[i].port, "/dev/ttyS0");
        EXPECT_EQ(kept[i].model, "K201");
    }
    EXPECT_EQ(kept.front().path, path);
    // The other port's backups and a stranger's file are left alone.
    const std::vector<TBackupEntry> other = backups.List("/dev/ttyS1");
    ASSERT_EQ(other.size(), 2u);
    EXPECT_EQ(NumberOf(other[0].path), 1001);
    EXPECT_EQ(backups.List().size(), 52u);
    EXPECT_TRUE(std::filesystem::exists(dir.File("data/tarvel/backups/README")));

    // Private, as what it holds may name the site.
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("data/tarvel/backups").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(SetupBackups, AFolderThatIsNotOneIsRefusedAndNothingIsLeft) {
    CTempDir dir;
    std::filesystem::create_directories(dir.File("data/tarvel"));
    WriteWholeFile(dir.File("data/tarvel/backups"), "a file where the folder should be");
    CSetupBackups backups(dir.File("data/tarvel/backups"));
    std::string path, reason;
    EXPECT_FALSE(backups.Keep("/dev/ttyS0", "K201", Numbered(1), path, reason));
    EXPECT_NE(reason.find("data/tarvel/backups"), std::string::npos) << reason;
    EXPECT_TRUE(backups.List().empty());

    // A link of our own to a folder of ours is fine.
    std::filesystem::create_directories(dir.File("elsewhere"));
    std::filesystem::create_directories(dir.File("linked/tarvel"));
    ASSERT_EQ(::symlink(dir.File("elsewhere").c_str(), dir.File("linked/tarvel/backups").c_str()), 0);
    CSetupBackups linked(dir.File("linked/tarvel/backups"));
    EXPECT_TRUE(linked.Keep("/dev/ttyS0", "K201", Numbered(2), path, reason)) << reason;
    EXPECT_EQ(linked.List().size(), 1u);
}

TEST(SetupBackups, TheFolderFollowsXdgDataHomeElseHome) {
    {
        CEnvSetting data("XDG_DATA_HOME", "/srv/data/");
        EXPECT_EQ(CSetupBackups::DefaultFolder(), "/srv/data/tarvel/backups");
    }
    CEnvSetting home("HOME", "/home/op");
    {
        CEnvSetting data("XDG_DATA_HOME", "relative/data");  // to be ignored
        EXPECT_EQ(CSetupBackups::DefaultFolder(), "/home/op/.local/share/tarvel/backups");
    }
    CEnvSetting noData("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(CSetupBackups::DefaultFolder(), "/home/op/.local/share/tarvel/backups");
    CEnvSetting noHome("HOME", nullptr);
    EXPECT_EQ(CSetupBackups::DefaultFolder(), "");
    CSetupBackups nowhere;
    std::string path, reason;
    EXPECT_FALSE(nowhere.Keep("COM1", "K201", Numbered(1), path, reason));
    EXPECT_FALSE(reason.empty());
}

}  // namespace
