#include <gtest/gtest.h>

#include <set>
#include <string>

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

TEST(StringTable, IdsAreUnique) {
    std::set<unsigned> seen;
    for (std::size_t i = 0; i < g_stringTableSize; ++i) {
        EXPECT_TRUE(seen.insert(g_stringTable[i].id).second)
            << "id " << g_stringTable[i].id << " appears twice";
        ASSERT_NE(g_stringTable[i].text, nullptr);
    }
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

TEST(StringTable, ChoiceRunsAreComplete) {
    // The port lists read these runs id by id; a hole would shorten a list.
    const std::string expected[] = {"1200", "2400", "4800", "9600", "19200", "38400", "115200",
                                    "7", "8", "1", "2", "No Parity", "Odd", "Even",
                                    "None", "Xon / Xoff", "Data Ready"};
    unsigned id = IDS_BAUD_FIRST;
    for (const std::string& text : expected) EXPECT_EQ(GetString(id++), text) << id - 1;
    EXPECT_EQ(id - 1, IDS_FLOW_DATA_READY);
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
