#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "HexCodec.h"
#include "Messages.h"
#include "Waits.h"
#include "RecordingClockUi.h"
#include "TestSupport.h"

namespace {

const std::string SIGNATURE("Halvern Clock State\0", 20);
const std::string REVISION_MESSAGE =
    "Unknown file revision!  Possible reasons are that this software is out of date with the "
    "software that created this file, or that this file is of the wrong type.";

std::string Revision(std::uint32_t r) {
    return std::string{static_cast<char>(r & 0xFF), static_cast<char>((r >> 8) & 0xFF),
                       static_cast<char>((r >> 16) & 0xFF), static_cast<char>(r >> 24)};
}

// A setup file with a record whose bytes are 1, 2, 3, ...
std::string PatternFile(std::uint32_t revision = 1) {
    std::string record;
    for (std::size_t i = 0; i < CLOCK_CONFIG_SIZE; ++i) record += static_cast<char>(i + 1);
    return Revision(revision) + SIGNATURE + record;
}

std::string Saved(const CClockState& state) {
    std::ostringstream out;
    state.Serialize(out);
    return out.str();
}

std::string Record(const CClockState& state) {
    return std::string(reinterpret_cast<const char*>(ConfigBytes(*state.GetConfig())), CLOCK_CONFIG_SIZE);
}

std::string DumpText(const CClockState& state) {
    std::ostringstream out;
    state.Dump(out);
    return out.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "text after the last line feed";
    return lines;
}

// A state already holding a loaded setup, to show that refusals keep it.
CClockState LoadedState() {
    CClockState state;
    std::istringstream in(PatternFile());
    EXPECT_EQ(state.Serialize(in), TLoadResult::Loaded);
    return state;
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(ClockState, FreshStateIsEmptyWithTheSecondModel) {
    CClockState state;
    EXPECT_FALSE(state.IsValid());
    EXPECT_EQ(Record(state), std::string(CLOCK_CONFIG_SIZE, '\0'));
    EXPECT_EQ(state.GetModel(), 1);
    std::string name;
    EXPECT_TRUE(state.GetModelName(name));
    EXPECT_EQ(name, "K202");
}

TEST(ClockState, SetItemChangesItsOwnRecordAndTellsItsUiTheRange) {
    CRecordingClockUi ui;
    CClockState state;
    state.SetUi(&ui);
    EXPECT_TRUE(state.SetItem(13, -45, true));
    EXPECT_EQ(state.GetConfig()->localOffset[0], 0xFF);
    EXPECT_EQ(state.GetConfig()->localOffset[1], 0xE2);
    EXPECT_FALSE(state.SetItem(13, 721, false));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(state.SetItem(17, 90, true));  // a rule, but the text names the range
    EXPECT_FALSE(state.SetItem(90, 0, true));   // no such item: nothing to tell
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"Input Error!  The valid range is 0 to 5940."}));
    EXPECT_FALSE(state.IsValid());  // editing does not make a setup present
}

TEST(ClockState, WithoutAUiItStaysQuiet) {
    CClockState state;
    ASSERT_EQ(state.GetUi(), nullptr);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(state.SetItem(13, 721, true));
    std::istringstream in(std::string(154, 'A'));
    EXPECT_EQ(state.Serialize(in), TLoadResult::Refused);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ClockStateFile, FreshStateSavesTheKnown154Bytes) {
    const std::string bytes = Saved(CClockState());
    ASSERT_EQ(bytes.size(), 154u);
    EXPECT_EQ(bytes, Revision(1) + SIGNATURE + std::string(CLOCK_CONFIG_SIZE, '\0'));
}

TEST(ClockStateFile, SaveAndLoadReproduceTheRecordButNotTheModel) {
    CClockState source = LoadedState();
    source.SetModel(5);
    const std::string bytes = Saved(source);
    EXPECT_EQ(bytes, PatternFile());

    CClockState target;
    target.SetModel(3);
    std::istringstream in(bytes + "trailing bytes are ignored");
    EXPECT_EQ(target.Serialize(in), TLoadResult::Loaded);
    EXPECT_TRUE(target.IsValid());
    EXPECT_EQ(Record(target), Record(source));
    EXPECT_EQ(target.GetModel(), 3);
}

TEST(ClockStateFile, WrongSignatureOrRevisionIsRefusedWithItsMessage) {
    struct {
        std::string bytes;
        std::string message;
    } cases[] = {
        {[] { std::string f = PatternFile(); f[4 + 8] = 'c'; return f; }(), "Unknown file type!"},
        {[] { std::string f = PatternFile(7); f[4 + 18] = 'E'; return f; }(), "Unknown file type!"},
        {PatternFile(0), "Unknown file type!"},
        {PatternFile(7), REVISION_MESSAGE},
        {PatternFile(0xFFFFFFFF), REVISION_MESSAGE},
        {std::string(4, '\0'), "Unknown file type!"},           // nothing after the revision
        {Revision(1) + "Halvern", "Unknown file type!"},        // signature cut short
        {std::string(154, 'A'), "Unknown file type!"},          // a foreign file
    };
    for (const auto& c : cases) {
        CRecordingClockUi ui;
        CClockState state;
        state.SetUi(&ui);
        state.SetItem(18, 100, false);
        const std::string before = Record(state);
        std::istringstream in(c.bytes);
        EXPECT_EQ(state.Serialize(in), TLoadResult::Refused);
        EXPECT_FALSE(state.IsValid());
        EXPECT_EQ(Record(state), before);
        EXPECT_EQ(ui.messages, std::vector<std::string>{c.message});
    }
}

TEST(ClockStateFile, UnreadableFilesThrowAndChangeNothing) {
    const std::string full = PatternFile();
    // Shorter than the revision, a valid header with no record, and one
    // with a record one byte short: none may leave a partial record behind.
    for (std::size_t len : {std::size_t{0}, std::size_t{3}, std::size_t{24}, std::size_t{153}}) {
        CRecordingClockUi ui;
        CClockState state;
        state.SetUi(&ui);
        state.SetItem(13, -60, false);
        const std::string before = Record(state);
        std::istringstream in(full.substr(0, len));
        EXPECT_THROW(state.Serialize(in), CFileError) << len;
        EXPECT_FALSE(state.IsValid()) << len;
        EXPECT_EQ(Record(state), before) << len;
        EXPECT_TRUE(ui.messages.empty()) << len;
    }
    // A present setup stays present and unchanged.
    CClockState state = LoadedState();
    std::string other = Revision(1) + SIGNATURE + std::string(100, '\x77');
    std::istringstream in(other);
    EXPECT_THROW(state.Serialize(in), CFileError);
    EXPECT_TRUE(state.IsValid());
    EXPECT_EQ(Record(state), PatternFile().substr(24));
}

TEST(ClockStateFile, StoringToAFailedStreamThrows) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_THROW(CClockState().Serialize(out), CFileError);
}

TEST(ClockStateDump, ZeroRecordGives108Lines) {
    const std::string text = DumpText(CClockState());
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 108u);
    const std::vector<std::string> head(lines.begin(), lines.begin() + 10);
    EXPECT_EQ(head, (std::vector<std::string>{"Model 0", "External 0", "", "Main", "Baud 0",
                                              "Data Bits 0", "Stop Bits 0", "Parity 0", "", ""}));
    EXPECT_EQ(lines[10], "Option");
    int values = 0, empty = 0;
    for (const auto& line : lines) {
        if (line.empty()) ++empty;
        else if (line.size() > 2 && line.compare(line.size() - 2, 2, " 0") == 0) ++values;
    }
    EXPECT_EQ(values, 85);
    EXPECT_EQ(empty, 15);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Broadcast Time Select  0"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Broadcast Time Select 0"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Psotion Hold 0"), lines.end());
    EXPECT_EQ(lines.back(), "Option 23b 0");
}

TEST(ClockStateDump, FieldsAreDecodedFromBigEndianWithTheirSign) {
    CClockState state;
    TClockConfig& c = *state.GetConfig();
    SetBE32(c.cableDelay, 100);
    SetBE32(c.systemDelay, 0xFFFFFFFFu);
    SetBE16(c.localOffset, static_cast<std::uint16_t>(-60));
    SetBE16(c.sTimeYear, 1999);
    SetBE16(c.markDay, 366);
    SetBE32(c.fixN, 86400);
    SetBE32(c.longitudeSum, 0x80000000u);
    c.lonSign = 'W';
    c.latSign = 'N';
    c.sTimeHours = -1;
    c.backLight = 255;
    SetBE16(c.latFSec, 999);
    SetBE32(c.mslAltitude, static_cast<std::uint32_t>(-12));
    c.analog[2].calFac = 2;
    c.option23a = 0x80;
    const auto lines = Lines(DumpText(state));
    ASSERT_EQ(lines.size(), 108u);
    auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    EXPECT_LT(at("Cable Delay 100"), 108);
    EXPECT_LT(at("System Delay 4294967295"), 108);
    EXPECT_LT(at("Local Offset -60"), 108);
    EXPECT_LT(at("Day 366"), 108);
    EXPECT_LT(at("Fix N 86400"), 108);
    EXPECT_LT(at("Longitude Sum -2147483648"), 108);
    EXPECT_LT(at("Back Light 255"), 108);
    EXPECT_LT(at("MSL Altitude -12"), 108);
    EXPECT_LT(at("Option 23a 128"), 108);
    // Repeated labels: the value must sit under the right heading.
    EXPECT_EQ(at("Year 1999"), at("STime") + 1);
    EXPECT_EQ(at("Hours -1"), at("STime") + 3);
    EXPECT_EQ(at("Sign 87"), at("Survey Longitude") + 2);
    EXPECT_EQ(at("Sign 78"), at("Survey Latitude") + 2);
    EXPECT_EQ(at("FSec 999"), at("Survey Latitude") + 6);
    EXPECT_EQ(lines[at("Analog") + 12], "Cal Fac 2");
}

TEST(ClockStateDump, EveryByteLandsInItsOwnLine) {
    // Byte i of the record holds i + 1: the single-byte lines show where each
    // line reads from, which catches a shifted or swapped offset.
    CClockState state = LoadedState();
    const auto lines = Lines(DumpText(state));
    ASSERT_EQ(lines.size(), 108u);
    EXPECT_EQ(lines[0], "Model 1");
    EXPECT_EQ(lines[1], "External 2");
    EXPECT_EQ(lines[4], "Baud 3");
    EXPECT_EQ(lines[14], "Parity 10");
    EXPECT_EQ(lines[16], "Back Light 11");
    EXPECT_EQ(lines[18], "Local Offset 3342");      // 0x0D 0x0E
    EXPECT_EQ(lines[22], "Lock Time 4627");         // 0x12 0x13
    EXPECT_EQ(lines[23], "Cable Delay 336926231");  // 0x14 0x15 0x16 0x17
    EXPECT_EQ(lines[90], "Broadcast Time Select 116");
    EXPECT_EQ(lines[106], "Option 23a 129");
    EXPECT_EQ(lines[107], "Option 23b 130");
}

TEST(ClockFile, SavesLoadsAndDumpsThroughFiles) {
    CTempDir dir;
    CClockState source = LoadedState();
    SaveConfigFile(source, dir.File("a.hcs"));
    EXPECT_EQ(ReadWholeFile(dir.File("a.hcs")), PatternFile());
    CClockState target;
    EXPECT_EQ(LoadConfigFile(target, dir.File("a.hcs")), TLoadResult::Loaded);
    EXPECT_EQ(Record(target), Record(source));

    DumpConfigFile(source, dir.File("a.txt"));
    EXPECT_EQ(ReadWholeFile(dir.File("a.txt")), DumpText(source));
    EXPECT_EQ(DirectoryEntries(dir.Path()), (std::vector<std::string>{"a.hcs", "a.txt"}));
}

TEST(ClockFile, OpenAndReadErrorsCarryPathAndReason) {
    CTempDir dir;
    CClockState state;
    try {
        LoadConfigFile(state, dir.File("missing.hcs"));
        FAIL() << "no exception";
    } catch (const CFileError& e) {
        EXPECT_EQ(e.GetKind(), CFileError::OPEN_FAILED);
        EXPECT_EQ(e.GetPath(), dir.File("missing.hcs"));
        EXPECT_EQ(e.GetReason(), "No such file or directory");
    }
    try {
        LoadConfigFile(state, dir.Path());  // a folder is no setup file
        FAIL() << "no exception";
    } catch (const CFileError& e) {
        EXPECT_EQ(e.GetKind(), CFileError::OPEN_FAILED);
        EXPECT_EQ(e.GetReason(), "Is a directory");
    }
    WriteWholeFile(dir.File("short.hcs"), PatternFile().substr(0, 100));
    try {
        LoadConfigFile(state, dir.File("short.hcs"));
        FAIL() << "no exception";
    } catch (const CFileError& e) {
        EXPECT_EQ(e.GetKind(), CFileError::READ_FAILED);
        EXPECT_EQ(e.GetPath(), dir.File("short.hcs"));
    }
    EXPECT_FALSE(state.IsValid());
}

TEST(ClockFile, ReplacingKeepsPermissionsAndFollowsLinks) {
    CTempDir dir;
    const std::string file = dir.File("setup.hcs");
    WriteWholeFile(file, "old");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    SaveConfigFile(CClockState(), file);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadWholeFile(file).size(), 154u);

    std::filesystem::create_symlink("setup.hcs", dir.File("link.hcs"));
    SaveConfigFile(LoadedState(), dir.File("link.hcs"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.hcs")));
    EXPECT_EQ(ReadWholeFile(file), PatternFile());
    EXPECT_EQ(DirectoryEntries(dir.Path()), (std::vector<std::string>{"link.hcs", "setup.hcs"}));

}

TEST(ClockFile, FailedSaveLeavesNoTraceAndTheOldFileIntact) {
    CTempDir dir;
    // The rename cannot replace a directory: the failure comes after the
    // temporary was written in full, which must then be removed.
    std::filesystem::create_directory(dir.File("taken.hcs"));
    WriteWholeFile(dir.File("taken.hcs/inside"), "keep");
    try {
        SaveConfigFile(LoadedState(), dir.File("taken.hcs"));
        FAIL() << "no exception";
    } catch (const CFileError& e) {
        EXPECT_EQ(e.GetKind(), CFileError::WRITE_FAILED);
        EXPECT_EQ(e.GetPath(), dir.File("taken.hcs"));
        EXPECT_FALSE(e.GetReason().empty());
    }
    EXPECT_EQ(ReadWholeFile(dir.File("taken.hcs/inside")), "keep");
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"taken.hcs"});

    EXPECT_THROW(DumpConfigFile(CClockState(), dir.File("no/such/dir/x.txt")), CFileError);
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"taken.hcs"});
}

// Without a UI a write's countdown waits its seconds through the process-wide
// sleep, once a second over its range, and is never cancelled.
TEST(ClockState, TheSilentCountdownSleepsASecondPerStep) {
    std::vector<unsigned> sleeps;
    SetSleepHook([&](unsigned ms) { sleeps.push_back(ms); });
    auto countdown = MakeSilentCountdown(0, 10, 1);
    EXPECT_EQ(countdown->DoModal(), IDOK);
    countdown->SetRange(0, 3);
    EXPECT_EQ(countdown->DoModal(), IDOK);
    EXPECT_EQ(MakeSilentCountdown(0, 10, 0)->DoModal(), IDOK);  // a step of 0 never ends otherwise
    SetSleepHook(nullptr);
    EXPECT_EQ(sleeps, std::vector<unsigned>(13, 1000u));
}
