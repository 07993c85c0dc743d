#include <gtest/gtest.h>

#include "SimCommandParser.h"

namespace {

// Feeds text; returns the commands completed and counts the refusals.
std::vector<std::string> FeedAll(CSimCommandParser& parser, const std::string& text, int& rejected) {
    std::vector<std::string> done;
    rejected = 0;
    for (char c : text) {
        const CSimCommandParser::TResult r = parser.Feed(c);
        rejected += r.rejected;
        if (r.complete) done.push_back(r.command);
    }
    return done;
}

using TList = std::vector<std::string>;

}  // namespace

TEST(SimCommandParser, CompletesEveryCommandOfEveryModelText) {
    CSimCommandParser parser;
    int rejected = 0;
    for (const std::string model : {"K201", "K202", "K203", "K204", "K205"}) {
        TList all;
        std::string text;
        for (const char* op : {"XO", "XT", "XR", "XS", "XX"}) all.push_back("1," + model + op);
        all.push_back("0,0," + model + "XZ");
        for (const std::string& c : all) text += c;
        EXPECT_EQ(FeedAll(parser, text, rejected), all);
        EXPECT_EQ(rejected, 0);
    }
    EXPECT_EQ(FeedAll(parser, "vTUb01999:06:15:13:45TS", rejected), (TList{"v", "TU", "b0", "1999:06:15:13:45TS"}));
    EXPECT_EQ(rejected, 0);
    // Waits while the text can still become a command.
    EXPECT_TRUE(FeedAll(parser, "2024:01:0", rejected).empty());
    EXPECT_EQ(parser.Pending(), "2024:01:0");
}

TEST(SimCommandParser, RefusesAndRecoversForTheNextCommand) {
    CSimCommandParser parser;
    int rejected = 0;
    // One refusal for each byte that starts nothing.
    EXPECT_EQ(FeedAll(parser, "xy1,K202XT", rejected), TList{"1,K202XT"});
    EXPECT_EQ(rejected, 2);
    // A command broken off by the start of another: the second still counts.
    EXPECT_EQ(FeedAll(parser, "1,K201,K203XO", rejected), TList{"1,K203XO"});
    EXPECT_EQ(rejected, 1);
    // A duplicated byte, as a resend puts on the line, is refused.
    EXPECT_TRUE(FeedAll(parser, "1,K22", rejected).empty());
    EXPECT_EQ(rejected, 1);
    parser.Reset();
    // The byte that breaks the match is itself a whole command.
    EXPECT_EQ(FeedAll(parser, "1,Kv", rejected), TList{"v"});
    EXPECT_EQ(rejected, 1);
    // A wrong last letter drops the whole text.
    EXPECT_TRUE(FeedAll(parser, "1,K202XQ", rejected).empty());
    EXPECT_EQ(rejected, 1);
    EXPECT_TRUE(parser.Pending().empty());
    // K206 sends the K205 text; "K206" itself is no model text on the line.
    EXPECT_TRUE(FeedAll(parser, "1,K206XT", rejected).empty());
    EXPECT_GE(rejected, 1);
    EXPECT_FALSE(CSimCommandParser::IsCommand("1999:6:15:13:45TS"));
    EXPECT_FALSE(CSimCommandParser::IsCommandPrefix("1999:06:15:13:45TSX"));
    EXPECT_FALSE(CSimCommandParser::IsCommand("1,K202XT\r"));
}

// A half command, a pause where the program would have sent a break, then a
// command: the half is dropped without a '?', however the two might join.
// A byte sent again at once is still refused.
TEST(SimCommandParser, ACommandAfterAPauseDropsTheHalfBeforeIt) {
    struct TRow {
        const char* before;  // then the pause
        const char* after;
        bool everyBytePaused;  // a slow line: every byte of `after` comes after a pause
        TList commands;
        int rejected;
    } const rows[] = {
        {"1,K202X", "1,K202XT", false, {"1,K202XT"}, 0},
        {"1", "1,K201XT", false, {"1,K201XT"}, 0},      // "11" could begin a time
        {"1,K20", "1,K201XO", false, {"1,K201XO"}, 0},  // "1,K201" could go on
        {"0,0,K2", "0,0,K202XZ", false, {"0,0,K202XZ"}, 0},
        {"2024:01:0", "TU", false, {"TU"}, 0},
        {"1", "1,K201XT", true, {"1,K201XT"}, 0},
        {"", "2001:02:03:04:05TS", true, {"2001:02:03:04:05TS"}, 0},
        // A slow byte that completes the half is the half's own.
        {"1,K202X", "T", false, {"1,K202XT"}, 0},
        // Nothing begins with 'Q': refused as without the pause.
        {"1,K2", "Q", false, {}, 1},
        // The byte after the pause sent again at once: a resend, refused.
        {"1,K2", "00", false, {}, 1},
    };
    for (const TRow& row : rows) {
        CSimCommandParser parser;
        int rejected = 0;
        TList done = FeedAll(parser, row.before, rejected);
        ASSERT_EQ(rejected, 0) << row.before;
        for (std::size_t i = 0; row.after[i]; ++i) {
            const CSimCommandParser::TResult r = parser.Feed(row.after[i], i == 0 || row.everyBytePaused);
            rejected += r.rejected;
            if (r.complete) done.push_back(r.command);
        }
        EXPECT_EQ(done, row.commands) << row.before << " | " << row.after;
        EXPECT_EQ(rejected, row.rejected) << row.before << " | " << row.after;
    }
}
