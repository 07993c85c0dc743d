// scripts/run on a machine without a display: the round trip with tarvelctl
// on the simulated clock, its dump printed, nothing of the user's touched.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"

namespace {

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
    const std::size_t start = text.find(from);
    if (start == std::string::npos) return std::string();
    const std::size_t end = text.find(to, start + from.size());
    return text.substr(start + from.size(), end == std::string::npos ? std::string::npos : end - start - from.size());
}

TEST(RunScript, WithoutADisplayRunsTheRoundTripWithTarvelctlAndPrintsTheDump) {
#ifndef TARVELCTL_PATH
    GTEST_SKIP() << "tarvelctl is not built";
#else
    CTempDir home;
    const std::string data = home.File("data");
    // The test's own build, as it is; a home of its own, so the user's
    // profile and the user's simulated clock are out of reach.
    const std::string command = "cd '" + home.Path() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CONFIG_HOME" +
                                " HOME='" + home.Path() + "' XDG_DATA_HOME='" + data + "'" +
                                " TARVEL_RUN_SKIP_BUILD=1 TARVEL_BUILD_DIR='" TARVEL_BINARY_DIR "'" +
                                " '" TARVEL_SOURCE_DIR "/scripts/run' >out.txt 2>err.txt </dev/null";
    const int status = std::system(command.c_str());
    const std::string out = ReadWholeFile(home.File("out.txt"));
    const std::string err = ReadWholeFile(home.File("err.txt"));
    ASSERT_TRUE(WIFEXITED(status)) << err;
    ASSERT_EQ(WEXITSTATUS(status), 0) << out << err;

    EXPECT_EQ(out.rfind("No display", 0), 0u) << out;
    // The dump printed is the one of what the clock stored in its EEPROM.
    const std::string dump = Between(out, "Its dump:\n", "The simulated clock's EEPROM is kept in");
    ASSERT_FALSE(dump.empty()) << out;
    const std::string eeprom = data + "/tarvel/sim-eeprom.hcs";
    ASSERT_EQ(std::system(("'" TARVELCTL_PATH "' dump '" + eeprom + "' -o '" + home.File("eeprom.txt") + "'").c_str()), 0);
    EXPECT_EQ(dump, ReadWholeFile(home.File("eeprom.txt")));
    EXPECT_NE(dump.find("\nDST Minutes 30\n"), std::string::npos) << dump;

    // Its own profile, with the simulated clock opened at start; none in the home.
    const std::string profile = ReadWholeFile(TARVEL_BINARY_DIR "/run-config/tarvel.INI");
    EXPECT_NE(profile.find("[Communication]\nCommPort=SIM\nAutoOpen=1\n"), std::string::npos) << profile;
    EXPECT_TRUE(ReadWholeFile(home.File(".config/tarvel.INI")).empty());
#endif
}

}  // namespace
