#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "HexCodec.h"

namespace {

TClockConfig RandomConfig(std::mt19937& rng) {
    TClockConfig c;
    std::uint8_t* p = ConfigBytes(c);
    for (std::size_t i = 0; i < CLOCK_CONFIG_SIZE; ++i) p[i] = static_cast<std::uint8_t>(rng());
    return c;
}

std::string Encode(const TClockConfig& c) {
    std::array<char, COMM_BUFFER_SIZE> buf{};
    const std::size_t n = ConfigToRaw(buf.data(), buf.size(), c);
    return std::string(buf.data(), n);
}

// The text as it would lie in the 1024-byte buffer, zero padded.
std::array<char, COMM_BUFFER_SIZE> InBuffer(const std::string& text) {
    std::array<char, COMM_BUFFER_SIZE> buf{};
    std::memcpy(buf.data(), text.data(), std::min(text.size(), buf.size()));
    return buf;
}

bool PassesAllChecks(const char* buf, std::size_t size) {
    return HasNoQuestionMark(buf, size) && CheckHeader(buf, size) && HasAllRecords(buf, size) &&
           VerifyChecksums(buf, size);
}

}  // namespace

// Records and the text they go on the line as: one row each.
struct TEncodeRow {
    const char* what;
    std::uint8_t (*byte)(std::size_t offset);  // the record's byte at each offset
    const char* text;
};

const TEncodeRow ENCODE_ROWS[] = {
    {"zeros", [](std::size_t) -> std::uint8_t { return 0; },
     ":1000000000000000000000000000000000000000F0\r\n"
     ":1000100000000000000000000000000000000000E0\r\n"
     ":1000200000000000000000000000000000000000D0\r\n"
     ":1000300000000000000000000000000000000000C0\r\n"
     ":1000400000000000000000000000000000000000B0\r\n"
     ":1000500000000000000000000000000000000000A0\r\n"
     ":100060000000000000000000000000000000000090\r\n"
     ":100070000000000000000000000000000000000080\r\n"
     ":0200800000007E\r\n"},
    {"all ones", [](std::size_t) -> std::uint8_t { return 0xFF; },
     ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n"
     ":10001000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0\r\n"
     ":10002000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFE0\r\n"
     ":10003000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD0\r\n"
     ":10004000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC0\r\n"
     ":10005000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFB0\r\n"
     ":10006000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA0\r\n"
     ":10007000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF90\r\n"
     ":02008000FFFF80\r\n"},
    {"each byte its offset", [](std::size_t i) { return static_cast<std::uint8_t>(i); },
     ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
     ":10001000101112131415161718191A1B1C1D1E1F68\r\n"
     ":10002000202122232425262728292A2B2C2D2E2F58\r\n"
     ":10003000303132333435363738393A3B3C3D3E3F48\r\n"
     ":10004000404142434445464748494A4B4C4D4E4F38\r\n"
     ":10005000505152535455565758595A5B5C5D5E5F28\r\n"
     ":10006000606162636465666768696A6B6C6D6E6F18\r\n"
     ":10007000707172737475767778797A7B7C7D7E7F08\r\n"
     ":0200800080817D\r\n"},
};

class HexEncoding : public ::testing::TestWithParam<TEncodeRow> {};

TEST_P(HexEncoding, GivesTheKnownTextAndDecodesBack) {
    const TEncodeRow& row = GetParam();
    SCOPED_TRACE(row.what);
    TClockConfig c;
    for (std::size_t i = 0; i < CLOCK_CONFIG_SIZE; ++i) ConfigBytes(c)[i] = row.byte(i);
    ASSERT_EQ(std::string(row.text).size(), RAW_TEXT_SIZE);
    EXPECT_EQ(Encode(c), row.text);
    const auto buf = InBuffer(row.text);
    EXPECT_TRUE(PassesAllChecks(buf.data(), buf.size()));
    TClockConfig back{};
    ASSERT_TRUE(RawToConfig(back, buf.data(), buf.size()));
    EXPECT_EQ(std::memcmp(&back, &c, CLOCK_CONFIG_SIZE), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, HexEncoding, ::testing::ValuesIn(ENCODE_ROWS));

// Texts as the clock's answer may lie in the buffer, made from the valid text
// of one record, and what each check and the decoder say of them. A text that
// decodes must give that record back.
struct TCheckRow {
    const char* what;
    std::string (*make)(const std::string& valid);
    bool noQuestionMark, header, allRecords, checksums, decodes;
};

static std::string Replaced(std::string text, std::size_t at, const char* with, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) text[at + k] = with[k];
    return text;
}

const TCheckRow CHECK_ROWS[] = {
    {"the valid text", [](const std::string& t) { return t; }, true, true, true, true, true},
    {"lower-case digits", [](const std::string& t) {
         std::string s = t;
         for (char& ch : s)
             if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
         return s;
     }, true, true, true, true, true},
    {"the echo before the records", [](const std::string& t) { return "1,K202XT" + t; },
     true, true, true, true, true},
    {"eight records", [](const std::string& t) { return t.substr(0, 8 * 45); },
     true, true, false, false, false},
    {"a '?' first", [](const std::string& t) { return Replaced(t, 0, "?", 1); },
     false, false, false, false, false},
    {"a '?' inside", [](const std::string& t) { return Replaced(t, 200, "?", 1); },
     false, true, true, false, true},
    {"a '?' after the text", [](const std::string& t) { return t + "?"; },
     false, true, true, true, true},
    // Decoding is lenient; the checks keep such text from being decoded.
    {"noise before the header", [](const std::string& t) { return "x:10000001" + t; },
     true, false, true, false, true},
    {"no colon at all", [](const std::string&) { return std::string("no colon at all"); },
     true, false, false, false, false},
    // A damaged data pair in the first record, where the sum alone would not
    // show it: "0G" parses as 0 leniently, yet must not pass as a valid byte.
    {"data pair 0G", [](const std::string& t) { return Replaced(t, 9, "0G", 2); },
     true, true, true, false, true},
    {"data pair G0", [](const std::string& t) { return Replaced(t, 9, "G0", 2); },
     true, true, true, false, true},
    {"data pair of blanks", [](const std::string& t) { return Replaced(t, 9, "  ", 2); },
     true, true, true, false, true},
    {"data pair -0", [](const std::string& t) { return Replaced(t, 9, "-0", 2); },
     true, true, true, false, true},
    {"data pair of zero bytes", [](const std::string& t) { return Replaced(t, 9, "\0\0", 2); },
     true, true, true, false, true},
    // Decoding follows the colons, not the 45-character stride.
    {"a blank after the first CR LF", [](const std::string& t) { return t.substr(0, 45) + " " + t.substr(45); }, true, true, true, false, true},
    {"a lone LF after the first record", [](const std::string& t) { return t.substr(0, 43) + t.substr(44); }, true, true, true, false, true},
    // Same length, but a separator damaged into a colon: decoding would start
    // the next record there and shift every byte after it.
    {"a colon for a CR", [](const std::string& t) { return Replaced(t, 3 * 45 + 43, ":", 1); },
     true, true, true, false, true},
};

class HexChecks : public ::testing::TestWithParam<TCheckRow> {};

TEST_P(HexChecks, EachCheckAndTheDecoderAnswerAsTheRowSays) {
    const TCheckRow& row = GetParam();
    SCOPED_TRACE(row.what);
    std::mt19937 rng(5);
    const TClockConfig c = RandomConfig(rng);
    const auto buf = InBuffer(row.make(Encode(c)));
    const char* p = buf.data();
    EXPECT_EQ(HasNoQuestionMark(p, buf.size()), row.noQuestionMark);
    EXPECT_EQ(CheckHeader(p, buf.size()), row.header);
    EXPECT_EQ(HasAllRecords(p, buf.size()), row.allRecords);
    EXPECT_EQ(VerifyChecksums(p, buf.size()), row.checksums);
    TClockConfig back{};
    ASSERT_EQ(RawToConfig(back, p, buf.size()), row.decodes);
    if (row.decodes && row.checksums) {
        EXPECT_EQ(std::memcmp(&back, &c, CLOCK_CONFIG_SIZE), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HexChecks, ::testing::ValuesIn(CHECK_ROWS));

TEST(HexCodec, RandomRecordsRoundTripAndPassEveryCheck) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        const TClockConfig c = RandomConfig(rng);
        const auto buf = InBuffer(Encode(c));
        ASSERT_TRUE(PassesAllChecks(buf.data(), buf.size())) << "round " << round;
        TClockConfig back{};
        ASSERT_TRUE(RawToConfig(back, buf.data(), buf.size()));
        ASSERT_EQ(std::memcmp(&back, &c, CLOCK_CONFIG_SIZE), 0) << "round " << round;
    }
}

TEST(HexCodec, ConfigToRawRefusesMissingOrSmallBuffers) {
    TClockConfig c{};
    EXPECT_EQ(ConfigToRaw(nullptr, 1024, c), 0u);
    // Exactly one byte short: nothing may be written at all.
    std::string small(RAW_TEXT_SIZE - 1, '#');
    EXPECT_EQ(ConfigToRaw(small.data(), small.size(), c), 0u);
    EXPECT_EQ(small, std::string(RAW_TEXT_SIZE - 1, '#'));
    std::string exact(RAW_TEXT_SIZE, '#');
    EXPECT_EQ(ConfigToRaw(exact.data(), exact.size(), c), RAW_TEXT_SIZE);
}

TEST(HexCodec, AnyChangedDigitFailsTheChecksum) {
    std::mt19937 rng(7);
    const std::string text = Encode(RandomConfig(rng));
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] == ':' || text[pos] == '\r' || text[pos] == '\n') continue;
        std::string bad = text;
        bad[pos] = bad[pos] == '0' ? '1' : '0';
        const auto buf = InBuffer(bad);
        EXPECT_FALSE(VerifyChecksums(buf.data(), buf.size())) << "position " << pos;
    }
}

// Every check over every prefix of a valid text: each must answer without
// touching a byte past the size it is given (the copy on the heap lets an
// address sanitizer catch an overrun), and only the complete text verifies.
TEST(HexCodec, BuffersCutShortAtEveryLength) {
    std::mt19937 rng(11);
    const std::string text = Encode(RandomConfig(rng));
    for (std::size_t len = 0; len <= text.size(); ++len) {
        std::unique_ptr<char[]> heap(new char[len ? len : 1]);
        std::memcpy(heap.get(), text.data(), len);
        const char* p = heap.get();
        // The final CR LF belongs to no record; decoding ignores the checksum too.
        EXPECT_EQ(VerifyChecksums(p, len), len >= RAW_TEXT_SIZE - 2) << len;
        TClockConfig back{};
        EXPECT_EQ(RawToConfig(back, p, len), len >= RAW_TEXT_SIZE - 4) << len;
        EXPECT_EQ(HasAllRecords(p, len), len > 8 * 45) << len;
        EXPECT_EQ(CheckHeader(p, len), len >= 9) << len;
        EXPECT_TRUE(HasNoQuestionMark(p, len));
    }
}

