#include <gtest/gtest.h>

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

TEST(ClockModel, StartsAtTheSecondModelWithSixNames) {
    CClockModel m;
    EXPECT_EQ(m.GetModel(), 1);
    std::string name;
    ASSERT_TRUE(m.GetModelName(name));
    EXPECT_EQ(name, "K202");
    std::vector<std::string> list = {"kept"};
    m.GetModelList(list);
    EXPECT_EQ(list, (std::vector<std::string>{"kept", "K201", "K202", "K203", "K204", "K205", "K206"}));
}

TEST(ClockModel, CommandTextsForTheSelectedModel) {
    CClockModel m;
    EXPECT_EQ(Command(m, EEPROM_TO_ACTIVE), "1,K202XO");
    EXPECT_EQ(Command(m, ACTIVE_TO_PC), "1,K202XT");
    EXPECT_EQ(Command(m, PC_TO_ACTIVE), "1,K202XR");
    EXPECT_EQ(Command(m, ACTIVE_TO_EEPROM), "1,K202XS");
    EXPECT_EQ(Command(m, COMMAND_XZ), "0,0,K202XZ");
    EXPECT_EQ(Command(m, RESET), "1,K202XX");
    EXPECT_EQ(Command(m, GET_VERSION), "v");
    EXPECT_EQ(Command(m, GET_UTC_TIME), "TU");
    EXPECT_EQ(Command(m, COMMAND_B0), "b0");
    m.SetModel(0);
    EXPECT_EQ(Command(m, ACTIVE_TO_PC), "1,K201XT");
    m.SetModel(2);
    EXPECT_EQ(Command(m, ACTIVE_TO_EEPROM), "1,K203XS");
}

TEST(ClockModel, SixthModelSpeaksAsTheFifth) {
    CClockModel m;
    m.SetModel(5);
    std::string name;
    ASSERT_TRUE(m.GetModelName(name));
    EXPECT_EQ(name, "K206");
    EXPECT_EQ(Command(m, RESET), "1,K205XX");
    std::string traced;
    m.GetCommandName(traced, RESET);
    EXPECT_EQ(traced, "1,K205XX");
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
    EXPECT_EQ(Command(m, static_cast<TClockCommand>(10)), "");
    EXPECT_EQ(Command(m, static_cast<TClockCommand>(-1)), "");
    // An index outside the list (e.g. a damaged stored setting) must not read
    // past the model tables: model commands come out empty, others still work.
    for (int bad : {-1, 6, 1000}) {
        m.SetModel(bad);
        EXPECT_EQ(m.GetModel(), bad);
        std::string name = "x";
        EXPECT_FALSE(m.GetModelName(name));
        EXPECT_EQ(name, "");
        EXPECT_EQ(Command(m, ACTIVE_TO_PC), "");
        EXPECT_EQ(Command(m, GET_UTC_TIME), "TU");
    }
}

// How a stored "Model" setting or a typed name picks a model: rows of the
// text, whether the whole name is wanted, and the index it gives.
TEST(ClockModel, FindModelMatchesTheNameFromItsStartInAnyCase) {
    const struct {
        const char* text;
        bool whole;
        int index;
    } rows[] = {
        {"K201", false, 0}, {"k206", false, 5}, {"K20", false, 0},   {"k", false, 0},
        {"K2055", false, -1}, {"", false, -1}, {"K207", false, -1}, {" K201", false, -1},
        {"k203", true, 2},  {"K20", true, -1}, {"", true, -1},      {"K2031", true, -1},
    };
    for (const auto& r : rows)
        EXPECT_EQ(CClockModel::FindModel(r.text, r.whole), r.index) << '"' << r.text << "\" " << r.whole;
}
