#include <gtest/gtest.h>

#include <cctype>
#include <ctime>
#include <string>
#include <vector>

#include "ClockModel.h"

namespace {

std::string Command(const CClockModel& m, TClockCommand c) {
    std::string text = "stale";
    m.FormatCommand(text, c);
    return text;
}

}  // namespace

// The quirks are fields the program acts on: rows that break what their
// users assume are caught here rather than at a clock.
TEST(ClockModel, StartsAtTheSecondModelAndTheTableAgreesWithItsUsers) {
    CClockModel m;
    EXPECT_EQ(m.SelectedRow(), &CLOCK_MODELS[1]);
    std::vector<std::string> list = {"kept"};
    m.GetModelList(list);
    EXPECT_EQ(list.size(), 1u + CClockModel::MODEL_COUNT);
    EXPECT_EQ(list.back(), CLOCK_MODELS[CClockModel::MODEL_COUNT - 1].name);
    int answering = 0;
    for (const auto& row : CLOCK_MODELS) {
        answering += row.answersVersion;
        // The untrusted ROM is known by the line the model answers "v" with.
        const std::string rom = row.untrustedChecksumRom ? row.untrustedChecksumRom : "";
        EXPECT_TRUE(rom.empty() || (row.answersVersion && rom.ends_with("\r\n"))) << row.name;
    }
    // The probe names the model from a ROM date line: one model only.
    EXPECT_EQ(answering, 1);
    const TClockModelRow* told = CClockModel::Row(CClockModel::VersionAnsweringModel());
    EXPECT_TRUE(told && told->answersVersion);
    // The Comm Port page preselects the first model; tarvelctl takes the same.
    EXPECT_EQ(CClockModel::DEFAULT_MODEL, 0);
}

// Each model's commands carry its row's command text, which may be another
// model's (the K206 speaks as the K205); traces name them the same.
TEST(ClockModel, CommandTextsForEachModel) {
    CClockModel m;
    for (int i = 0; i < CClockModel::MODEL_COUNT; ++i) {
        m.SetModel(i);
        const std::string t = CLOCK_MODELS[i].commandText;
        EXPECT_EQ(Command(m, EEPROM_TO_ACTIVE), "1," + t + "XO");
        EXPECT_EQ(Command(m, ACTIVE_TO_PC), "1," + t + "XT");
        EXPECT_EQ(Command(m, PC_TO_ACTIVE), "1," + t + "XR");
        EXPECT_EQ(Command(m, ACTIVE_TO_EEPROM), "1," + t + "XS");
        EXPECT_EQ(Command(m, COMMAND_XZ), "0,0," + t + "XZ");
        EXPECT_EQ(Command(m, RESET), "1," + t + "XX");
        EXPECT_EQ(Command(m, GET_VERSION), "v");
        EXPECT_EQ(Command(m, GET_UTC_TIME), "TU");
        EXPECT_EQ(Command(m, COMMAND_B0), "b0");
        std::string traced;
        m.GetCommandName(traced, RESET);
        EXPECT_EQ(traced, Command(m, RESET));
    }
}

TEST(ClockModel, SetTimeUsesTheGivenLocalTimeWithoutSeconds) {
    CClockModel m;
    std::tm t{};
    t.tm_year = 1999 - 1900;
    t.tm_mon = 5;
    t.tm_mday = 15;
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 59;
    std::string text;
    m.FormatCommand(text, SET_UTC_TIME, t);
    EXPECT_EQ(text, "1999:06:15:13:45TS");
}

TEST(ClockModel, SetTimeFromTheClockHasTheSameShape) {
    const std::string text = Command(CClockModel(), SET_UTC_TIME);
    ASSERT_EQ(text.size(), 18u) << text;
    for (std::size_t i : {4u, 7u, 10u, 13u}) EXPECT_EQ(text[i], ':') << text;
    EXPECT_EQ(text.substr(16), "TS");
}

TEST(ClockModel, UnknownCommandsAndIndexesGiveEmptyText) {
    CClockModel m;
    EXPECT_EQ(Command(m, static_cast<TClockCommand>(CLOCK_COMMAND_COUNT)), "");
    EXPECT_EQ(Command(m, static_cast<TClockCommand>(-1)), "");
    // An index outside the list (e.g. a damaged stored setting) must not read
    // past the model tables: model commands come out empty, others still work.
    for (int bad : {-1, CClockModel::MODEL_COUNT, 1000}) {
        m.SetModel(bad);
        EXPECT_EQ(m.GetModel(), bad);
        EXPECT_EQ(m.SelectedRow(), nullptr);
        std::string name = "x";
        EXPECT_FALSE(m.GetModelName(name));
        EXPECT_EQ(name, "");
        EXPECT_EQ(Command(m, ACTIVE_TO_PC), "");
        EXPECT_EQ(Command(m, GET_UTC_TIME), "TU");
    }
}

// How a stored "Model" setting or a typed name picks a model: each name,
// in any case, picks its own row (so no two rows share a name); a start of a
// name picks the first row that begins so; more than a name picks none.
TEST(ClockModel, FindModelMatchesTheNameFromItsStartInAnyCase) {
    for (int i = 0; i < CClockModel::MODEL_COUNT; ++i) {
        const std::string name = CLOCK_MODELS[i].name;
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (bool whole : {false, true}) {
            EXPECT_EQ(CClockModel::FindModel(lower, whole), i) << lower;
            EXPECT_EQ(CClockModel::FindModel(name + "1", whole), -1) << name;
            EXPECT_EQ(CClockModel::FindModel(" " + name, whole), -1) << name;
        }
        EXPECT_EQ(CClockModel::FindModel(name.substr(0, name.size() - 1), true), -1) << name;
    }
    const std::string first = CLOCK_MODELS[0].name;
    EXPECT_EQ(CClockModel::FindModel(first.substr(0, 1)), 0);
    EXPECT_EQ(CClockModel::FindModel(""), -1);
    EXPECT_EQ(CClockModel::FindModel("", true), -1);
}
