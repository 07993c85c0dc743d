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

TEST(HexCodec, ZeroRecordGivesTheKnownText) {
    TClockConfig zero{};
    std::string expected;
    const char* sums[] = {"F0", "E0", "D0", "C0", "B0", "A0", "90", "80"};
    const char* addresses[] = {"0000", "0010", "0020", "0030", "0040", "0050", "0060", "0070"};
    for (int i = 0; i < 8; ++i)
        expected += std::string(":10") + addresses[i] + "00" + std::string(32, '0') + sums[i] + "\r\n";
    expected += ":02008000" + std::string(4, '0') + "7E\r\n";
    ASSERT_EQ(expected.size(), RAW_TEXT_SIZE);
    EXPECT_EQ(Encode(zero), expected);
}

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

TEST(HexCodec, LowerCaseDigitsDecodeLikeUpperCase) {
    std::mt19937 rng(99);
    const TClockConfig c = RandomConfig(rng);
    std::string text = Encode(c);
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
    const auto buf = InBuffer(text);
    EXPECT_TRUE(VerifyChecksums(buf.data(), buf.size()));
    TClockConfig back{};
    ASSERT_TRUE(RawToConfig(back, buf.data(), buf.size()));
    EXPECT_EQ(std::memcmp(&back, &c, CLOCK_CONFIG_SIZE), 0);
}

TEST(HexCodec, EightRecordsAreNotEnough) {
    const std::string text = Encode(TClockConfig{});
    const auto buf = InBuffer(text.substr(0, 8 * 45));
    EXPECT_TRUE(CheckHeader(buf.data(), buf.size()));
    EXPECT_FALSE(HasAllRecords(buf.data(), buf.size()));
    EXPECT_FALSE(VerifyChecksums(buf.data(), buf.size()));
    TClockConfig back{};
    EXPECT_FALSE(RawToConfig(back, buf.data(), buf.size()));
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

TEST(HexCodec, NonHexPairsNeverVerify) {
    const std::string text = Encode(TClockConfig{});
    // A damaged data pair in the first record, where the sum alone would not show it:
    // "0G" parses as 0 leniently, yet must not pass as a valid byte.
    for (const char* pair : {"0G", "G0", "  ", "-0", "\0\0"}) {
        std::string bad = text;
        bad[9] = pair[0];
        bad[10] = pair[1];
        const auto buf = InBuffer(bad);
        EXPECT_FALSE(VerifyChecksums(buf.data(), buf.size())) << pair;
    }
}

TEST(HexCodec, QuestionMarkAnywhereIsFound) {
    const std::string text = Encode(TClockConfig{});
    auto clean = InBuffer(text);
    EXPECT_TRUE(HasNoQuestionMark(clean.data(), clean.size()));
    for (std::size_t pos : {std::size_t{0}, std::size_t{200}, RAW_TEXT_SIZE, COMM_BUFFER_SIZE - 1}) {
        auto buf = InBuffer(text);
        buf[pos] = '?';
        EXPECT_FALSE(HasNoQuestionMark(buf.data(), buf.size())) << pos;
    }
}

TEST(HexCodec, AnythingButCrLfBetweenRecordsFailsTheStride) {
    const std::string text = Encode(TClockConfig{});
    std::string extra = text;
    extra.insert(45, " ");  // after the first record's CR LF
    auto buf = InBuffer(extra);
    EXPECT_TRUE(HasAllRecords(buf.data(), buf.size()));
    EXPECT_FALSE(VerifyChecksums(buf.data(), buf.size()));
    // Still decodable: decoding follows the colons, not the stride.
    TClockConfig back;
    std::memset(&back, 0x55, sizeof back);
    EXPECT_TRUE(RawToConfig(back, buf.data(), buf.size()));
    const TClockConfig zero{};
    EXPECT_EQ(std::memcmp(&back, &zero, CLOCK_CONFIG_SIZE), 0);

    std::string lf = text;
    lf.erase(43, 1);  // a lone LF after the first record
    buf = InBuffer(lf);
    EXPECT_FALSE(VerifyChecksums(buf.data(), buf.size()));

    // Same length, but the separator damaged into a colon: decoding would
    // start the next record there and shift every byte after it.
    std::mt19937 rng(3);
    std::string colon = Encode(RandomConfig(rng));
    colon[3 * 45 + 43] = ':';
    buf = InBuffer(colon);
    EXPECT_FALSE(VerifyChecksums(buf.data(), buf.size()));
}

TEST(HexCodec, TextAfterLeadingNoiseIsFoundFromTheFirstColon) {
    std::mt19937 rng(5);
    const TClockConfig c = RandomConfig(rng);
    const auto buf = InBuffer("1,K202XT" + Encode(c));  // the echo precedes the records
    EXPECT_TRUE(PassesAllChecks(buf.data(), buf.size()));
    TClockConfig back{};
    ASSERT_TRUE(RawToConfig(back, buf.data(), buf.size()));
    EXPECT_EQ(std::memcmp(&back, &c, CLOCK_CONFIG_SIZE), 0);
}

TEST(HexCodec, HeaderMustFollowTheFirstColon) {
    const auto buf = InBuffer("x:10000001" + Encode(TClockConfig{}));
    EXPECT_FALSE(CheckHeader(buf.data(), buf.size()));
    EXPECT_FALSE(CheckHeader("no colon at all", 15));
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

