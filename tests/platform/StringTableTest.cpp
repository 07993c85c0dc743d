#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"
#include "Strings.h"

TEST(StringTable, MissingIdsReportFalseAndLeaveTheTextAlone) {
    std::string out = "unchanged";
    EXPECT_FALSE(LoadString(0, out));
    EXPECT_FALSE(LoadString(172, out));    // gap between two choice texts
    EXPECT_FALSE(LoadString(57689, out));  // gap after the About text
    EXPECT_FALSE(LoadString(0xFFFFFFFFu, out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(GetString(172), "");
}

TEST(StringTable, IdsAreUniqueAcrossBothParts) {
    std::set<unsigned> seen;
    auto add = [&seen](const TStringEntry* table, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            EXPECT_TRUE(seen.insert(table[i].id).second) << "id " << table[i].id << " appears twice";
            ASSERT_NE(table[i].text, nullptr);
        }
    };
    add(g_stringTable, g_stringTableSize);
    add(g_setupStringTable, g_setupStringTableSize);
}

// Every string id a header names has its text: a name without one would show
// the user an empty line. The headers are read as written.
TEST(StringTable, EveryNamedStringIdHasItsText) {
    int named = 0;
    for (const char* header : {"Resource.h", "SetupStrings.h"}) {
        std::ifstream in(std::string(TARVEL_SOURCE_DIR) + "/src/resources/" + header);
        ASSERT_TRUE(in) << header;
        std::map<std::string, unsigned> ids;
        const std::regex line(R"(^constexpr unsigned (IDS_\w+) = (\w+);)");
        std::string text;
        for (std::smatch m; std::getline(in, text);) {
            if (!std::regex_search(text, m, line)) continue;
            const std::string value = m[2];
            const bool number = std::isdigit(static_cast<unsigned char>(value[0])) != 0;
            ASSERT_TRUE(number || ids.count(value)) << text;
            ids[m[1]] = number ? unsigned(std::stoul(value)) : ids[value];
            std::string out;
            EXPECT_TRUE(LoadString(ids[m[1]], out) && !out.empty()) << m[1] << " in " << header;
            ++named;
        }
    }
    EXPECT_GT(named, 300);
}

TEST(StringTable, TextsWithTrickySpacingAndEscapes) {
    EXPECT_EQ(GetString(IDS_UNKNOWN_FILE_REVISION),
              "Unknown file revision!  Possible reasons are that this software is out of date "
              "with the software that created this file, or that this file is of the wrong type.");
    EXPECT_EQ(GetString(IDS_RANGE_ERROR), "Input Error!  The valid range is %d to %d.");
    EXPECT_EQ(FormatString(GetString(IDS_RANGE_ERROR).c_str(), -720, 720),
              "Input Error!  The valid range is -720 to 720.");
    EXPECT_EQ(GetString(IDS_START_PROMPT),
              "Click on \"Open Comm Port\" to start communication with your Halvern Systems Clock.");
    EXPECT_EQ(GetString(IDS_CONSOLE_STARTED), "Console started at: %s\r\n");
    EXPECT_EQ(GetString(IDC_COMM_PORT), "Selects the comm port.  Note: you may type in a value.");
    EXPECT_EQ(FormatString(GetString(IDS_COUNTDOWN).c_str(), 10), "Countdown 10...");
}

TEST(StringTable, MenuPromptsShowTheirFirstLine) {
    // The status line shows the text before the line feed; the first seven
    // commands carry a short second form after it.
    for (unsigned id = ID_FILE_EXIT; id <= ID_FILE_DUMP; ++id) {
        std::string text;
        ASSERT_TRUE(LoadString(id, text)) << id;
        const std::size_t lf = text.find('\n');
        if (id <= ID_FILE_SAVE_FILE) {
            ASSERT_NE(lf, std::string::npos) << id;
            EXPECT_GT(lf, 0u) << id;
            EXPECT_LT(lf + 1, text.size()) << id;
        } else {
            EXPECT_EQ(lf, std::string::npos) << id;
        }
    }
    EXPECT_EQ(GetString(ID_FILE_EXIT), "Exits this fine application\nExit this application.");
    EXPECT_EQ(GetString(ID_FILE_DUMP), "Dumps the clock config to an ascii text file.");
}

TEST(StringTable, ChoiceRunsHaveNoHoles) {
    // The port lists read these runs id by id; a hole would shorten a list.
    const struct {
        unsigned first, last, byDefault;
    } runs[] = {{IDS_BAUD_FIRST, IDS_BAUD_LAST, IDS_BAUD_DEFAULT},
                {IDS_DATA_FIRST, IDS_DATA_LAST, IDS_DATA_DEFAULT},
                {IDS_STOP_FIRST, IDS_STOP_LAST, IDS_STOP_DEFAULT},
                {IDS_PARITY_FIRST, IDS_PARITY_LAST, IDS_PARITY_DEFAULT},
                {IDS_FLOW_FIRST, IDS_FLOW_LAST, IDS_FLOW_DEFAULT}};
    for (const auto& run : runs) {
        EXPECT_TRUE(run.first <= run.byDefault && run.byDefault <= run.last) << run.first;
        for (unsigned id = run.first; id <= run.last; ++id) EXPECT_FALSE(GetString(id).empty()) << id;
    }
    // The baud texts are the rates, rising: the line is opened at the rate
    // the text names.
    long previous = 0;
    for (unsigned id = IDS_BAUD_FIRST; id <= IDS_BAUD_LAST; ++id) {
        const std::string text = GetString(id);
        EXPECT_EQ(text.find_first_not_of("0123456789"), std::string::npos) << text;
        EXPECT_GT(std::atol(text.c_str()), previous) << text;
        previous = std::atol(text.c_str());
    }
    EXPECT_EQ(GetString(IDS_BAUD_DEFAULT), "9600");
    EXPECT_EQ(GetString(IDS_PARITY_DEFAULT), "No Parity");
    for (unsigned status = IDS_BREAK_DETECTED; status <= IDS_PORT_TIMEOUT; ++status)
        EXPECT_FALSE(GetString(status).empty()) << status;
}

TEST(StringTable, TooltipsExistExactlyForTheirControls) {
    for (unsigned id : {IDC_COMM_PORT, IDC_BAUD, IDC_MODEL, IDC_DATA_BITS, IDC_PARITY,
                        IDC_STOP_BITS, IDC_CONSOLE_INPUT, IDC_OPEN_PORT, IDC_LOCAL_OFFSET,
                        IDC_CLOCK_TO_PC, IDC_SETUP_TREE, IDC_SETUP_VALUE, IDC_SETUP_CHOICE,
                        IDC_PC_TO_CLOCK, IDC_APPLY_OFFSET})
        EXPECT_FALSE(GetString(id).empty()) << id;
    // Controls without a string get no tooltip at all.
    std::string out;
    for (unsigned id : {IDC_CONSOLE_OUTPUT, IDC_TIME_ZONE, IDC_GMT, IDC_LOCAL_TIME,
                        IDC_SETUP_APPLY, IDC_COUNTDOWN_PROGRESS, IDC_COUNTDOWN_TEXT, IDC_VERSION})
        EXPECT_FALSE(LoadString(id, out)) << id;
}
