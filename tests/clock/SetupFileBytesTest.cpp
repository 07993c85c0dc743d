// Setup files through the program's save and load, on every system (these
// run on Linux and under wine): the bytes text mode would change come back
// as they went, a save replaces the file it is given, and names are UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ClockFile.h"
#include "ClockState.h"
#include "OsLayer.h"
#include "TestSupport.h"

namespace {

// A record of line feeds, CRs, 0x1A and NULs: text mode turns the first
// into CR LF on a write and stops a read at the third.
CClockState TrickyState() {
    static const unsigned char kBytes[] = {0x0A, 0x1A, 0x0D, 0x0A, 0x00, 0x1A};
    CClockState state;
    auto* raw = reinterpret_cast<unsigned char*>(state.GetConfig());
    for (std::size_t i = 0; i < CLOCK_CONFIG_SIZE; ++i) raw[i] = kBytes[i % sizeof kBytes];
    return state;
}

std::string Record(const CClockState& state) {
    return std::string(reinterpret_cast<const char*>(state.GetConfig()), CLOCK_CONFIG_SIZE);
}

TEST(SetupFileBytes, LineEndAndEndOfFileBytesSurviveASaveOverAnOldFileAndALoad) {
    CTempDir dir;
    const std::string path = dir.File("setup.hcs");
    WriteWholeFile(path, "an older setup");
    const CClockState saved = TrickyState();
    SaveConfigFile(saved, path);
    const std::string bytes = ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), CClockState::FILE_SIZE);
    EXPECT_EQ(bytes.substr(CClockState::FILE_SIZE - CLOCK_CONFIG_SIZE), Record(saved));
    CClockState loaded;
    ASSERT_EQ(LoadConfigFile(loaded, path), TLoadResult::Loaded);
    EXPECT_EQ(Record(loaded), Record(saved));
    // Saved again over itself, as File > Save does.
    SaveConfigFile(loaded, path);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

TEST(SetupFileBytes, AUtf8NameIsSavedDumpedAndLoadedUnderThatName) {
    CTempDir dir;
    const std::string setup = JoinPath(dir.Path(), "Uhr-S\xC3\xBC" "d-\xE6\x99\x82.hcs");
    const std::string dump = JoinPath(dir.Path(), "Uhr-S\xC3\xBC" "d-\xE6\x99\x82.txt");
    const CClockState saved = TrickyState();
    SaveConfigFile(saved, setup);
    DumpConfigFile(saved, dump);
    const std::filesystem::path folder = PathFromUtf8(dir.Path());
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / std::filesystem::path(u8"Uhr-Süd-時.hcs")));
    CClockState loaded;
    ASSERT_EQ(LoadConfigFile(loaded, setup), TLoadResult::Loaded);
    EXPECT_EQ(Record(loaded), Record(saved));
    // The dump's lines end in a line feed alone, on every system.
    std::ifstream in(folder / std::filesystem::path(u8"Uhr-Süd-時.txt"), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 108);
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

}  // namespace
