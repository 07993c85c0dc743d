// The setup text form and the item-by-item comparison, on records of every
// kind: fresh, from the simulated clock, and random bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "SetupDiff.h"
#include "SetupItems.h"
#include "SetupText.h"
#include "SimClock.h"
#include "SimSetups.h"

namespace {

TClockConfig RandomRecord(std::mt19937& rng) {
    TClockConfig c;
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t k = 0; k < CLOCK_CONFIG_SIZE; ++k) ConfigBytes(c)[k] = static_cast<std::uint8_t>(byte(rng));
    return c;
}

// The text with the line that starts with prefix replaced.
std::string ReplaceLine(std::string text, const std::string& prefix, const std::string& line) {
    const std::size_t at = text.find("\n" + prefix);
    EXPECT_NE(at, std::string::npos) << prefix;
    if (at == std::string::npos) return text;
    const std::size_t end = text.find('\n', at + 1);
    return text.replace(at + 1, end - at - 1, line);
}

int LineOf(const std::string& text, const std::string& prefix) {
    const std::size_t at = text.find("\n" + prefix);
    int line = 1;
    for (std::size_t k = 0; k <= at && at != std::string::npos; ++k)
        if (text[k] == '\n') ++line;
    return line;
}

TEST(SetupText, EveryRecordComesBackByteForByte) {
    std::mt19937 rng(12);
    std::vector<TClockConfig> records = {TClockConfig{}, CSimClock::MakeFactorySetup()};
    for (int i = 0; i < 300; ++i) records.push_back(RandomRecord(rng));
    TClockConfig allOnes;
    std::memset(&allOnes, 0xFF, sizeof allOnes);
    records.push_back(allOnes);
    for (const TClockConfig& original : records) {
        const std::string text = SetupToText(original);
        TClockConfig back;
        std::memset(&back, 0xA5, sizeof back);
        std::string error;
        ASSERT_TRUE(SetupFromText(text, back, error)) << error << "\n" << text;
        ASSERT_TRUE(Same(back, original)) << text;
        EXPECT_TRUE(DiffSetups(back, original).Equal());
    }
}

TEST(SetupText, ReadableValuesWhereTheyRoundTripRawOnlyWhereNot) {
    TClockConfig c = CSimClock::MakeFactorySetup();
    std::string text = SetupToText(c);
    EXPECT_NE(text.find("# Baud Rate: \"1200\", \"2400\", \"4800\", \"9600\", \"19200\"\n3 = 9600\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\n56 = West\n"), std::string::npos);
    // Group order: the main port's items come before the survey's.
    EXPECT_LT(text.find("\n3 = "), text.find("\n45 = "));

    c.backLight = 100;   // not one of the three bytes the clock writes, shows as "Auto"
    c.mainBaud = 200;    // no text at all
    SetBE16(c.localOffset, 45);  // the item would store 30
    c.irigTimeSelect |= 0x80;    // a bit no item holds
    text = SetupToText(c);
    EXPECT_NE(text.find("\n11 = raw 100\n"), std::string::npos);
    EXPECT_NE(text.find("\n3 = raw 200\n"), std::string::npos);
    EXPECT_NE(text.find("\n13 = raw 45\n"), std::string::npos);
    EXPECT_NE(text.find("\nbyte 30 = 128\n"), std::string::npos) << text;
}

TEST(SetupText, EditedValuesAreCheckedAsTheSetupPagesCheckThem) {
    const TClockConfig base = CSimClock::MakeFactorySetup();
    const std::string text = SetupToText(base);
    TClockConfig out = base;
    std::string error;

    // Choice text in any case, a choice index, the model's letter.
    std::string edited = ReplaceLine(ReplaceLine(ReplaceLine(text, "3 = ", "3 =   19200  "), "6 = ", "6 = even"), "1 = ", "1=c");
    ASSERT_TRUE(SetupFromText(edited, out, error)) << error;
    EXPECT_EQ(out.mainBaud, 4);
    EXPECT_EQ(out.mainParity, 1);
    EXPECT_EQ(out.model, 'C');
    edited = ReplaceLine(text, "11 = ", "11 = 2\r");
    ASSERT_TRUE(SetupFromText(edited, out, error)) << error;
    EXPECT_EQ(out.backLight, 255);

    struct TCase {
        std::string prefix, line, why;
    } refused[] = {
        {"3 = ", "3 = 38400", "item 3: \"38400\" is not taken; the item takes one of \"1200\""},
        {"37 = ", "37 = 0", "a whole number from 1 to 60000"},
        {"17 = ", "17 = 61", "item 17"},
        {"18 = ", "18 = raw 99999999999", "does not fit"},
        {"3 = ", "3 9600", "not an ITEM = VALUE line"},
        {"3 = ", "90 = 1", "there is no setup item \"90\""},
        {"3 = ", "0 = 1", "there is no setup item \"0\""},
        {"5 = ", "4 = 8", "4 is given twice (first on line"},
        {"3 = ", "byte 30 = 1", "bits 0x03 belong to setup items"},
        {"3 = ", "byte 130 = 128", "not an ITEM = VALUE line"},
    };
    for (const TCase& c : refused) {
        out = base;
        error.clear();
        edited = ReplaceLine(text, c.prefix, c.line);
        EXPECT_FALSE(SetupFromText(edited, out, error)) << c.line;
        EXPECT_EQ(error.rfind("line " + std::to_string(LineOf(text, c.prefix)) + ": ", 0), 0u) << c.line << ": " << error;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.line << ": " << error;
        EXPECT_TRUE(Same(out, base)) << "a refused text changed the record: " << c.line;
    }

    // A deleted line is named, not taken as zero.
    edited = ReplaceLine(text, "37 = ", "# gone");
    EXPECT_FALSE(SetupFromText(edited, out, error));
    EXPECT_EQ(error, "item 37 (Seconds Per Pulse) is missing: every item needs its line");
    EXPECT_FALSE(SetupFromText(std::string(SETUP_TEXT_MAX_SIZE + 1, '#'), out, error));
}

TEST(SetupDiff, ItemsDifferByStoredValueAndOtherBitsAreListedApart) {
    const TClockConfig a = CSimClock::MakeFactorySetup();
    TClockConfig b = a;
    EXPECT_TRUE(DiffSetups(a, b).Equal());

    b.backLight = 100;  // reads "Auto" like the 30 of a, yet it differs
    SetBE32(b.cableDelay, 0xFFFFFFFFu);
    b.surveyMode ^= 0x04;  // item 43, a bit
    b.surveyMode ^= 0x40;  // no item's bit
    const TSetupDiff d = DiffSetups(a, b);
    ASSERT_EQ(d.items.size(), 3u);
    EXPECT_EQ(d.items[0].item, 11);
    EXPECT_EQ(d.items[0].name, "Back Light");
    EXPECT_EQ(d.items[0].a.text, d.items[0].b.text);
    EXPECT_EQ(d.items[0].b.raw, 100);
    EXPECT_EQ(d.items[1].item, 18);
    EXPECT_EQ(d.items[1].b.raw, 0xFFFFFFFFLL);
    EXPECT_EQ(d.items[2].item, 43);
    ASSERT_EQ(d.bytes.size(), 1u);
    EXPECT_EQ(d.bytes[0].offset, offsetof(TClockConfig, surveyMode));
    EXPECT_EQ(d.bytes[0].a ^ d.bytes[0].b, 0x40);

    // Random records: equal exactly when the bytes are.
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        const TClockConfig x = RandomRecord(rng);
        TClockConfig y = x;
        const std::size_t at = rng() % CLOCK_CONFIG_SIZE;
        ConfigBytes(y)[at] = static_cast<std::uint8_t>(ConfigBytes(y)[at] ^ (1u << (rng() % 8)));
        EXPECT_FALSE(DiffSetups(x, y).Equal()) << "byte " << at;
    }
    EXPECT_EQ(GetItemName(69), "Item 69");
}

}  // namespace
