// The clock's reply to "send your setup": nine hex records, or anything a
// misbehaving clock or a noisy line may deliver instead.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "HexCodec.h"

namespace {

const char* FirstColon(const char* buf, std::size_t size) {
    return static_cast<const char*>(std::memchr(buf, ':', size));
}

bool SameTextNoCase(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so a read past the end is caught.
    std::vector<char> text(data, data + size);
    const char* buf = size ? text.data() : nullptr;
    static char empty;
    if (!buf) buf = &empty;

    CheckHeader(buf, size);
    HasAllRecords(buf, size);
    HasNoQuestionMark(buf, size);
    TClockConfig decoded{};
    const bool taken = RawToConfig(decoded, buf, size);
    if (VerifyChecksums(buf, size)) {
        // Records that pass the checks decode, and encode back to the same
        // text (hex digits in either case).
        FUZZ_CHECK(HasAllRecords(buf, size));
        FUZZ_CHECK(taken);
        char again[RAW_TEXT_SIZE];
        FUZZ_CHECK(ConfigToRaw(again, sizeof again, decoded) == RAW_TEXT_SIZE);
        const char* first = FirstColon(buf, size);
        FUZZ_CHECK(first != nullptr);
        for (std::size_t i = 0; i + 1 < RAW_RECORD_COUNT; ++i)
            FUZZ_CHECK(SameTextNoCase(first + 45 * i, again + 45 * i, 43));
        FUZZ_CHECK(SameTextNoCase(first + 45 * 8, again + 45 * 8, 1 + 2 * (2 + 5)));
    }

    // The first 130 bytes as a record: encoded, checked and decoded to itself.
    TClockConfig record{};
    std::memcpy(ConfigBytes(record), data, size < CLOCK_CONFIG_SIZE ? size : CLOCK_CONFIG_SIZE);
    std::vector<char> raw(RAW_TEXT_SIZE);
    FUZZ_CHECK(ConfigToRaw(raw.data(), raw.size(), record) == RAW_TEXT_SIZE);
    FUZZ_CHECK(CheckHeader(raw.data(), raw.size()));
    FUZZ_CHECK(HasAllRecords(raw.data(), raw.size()));
    FUZZ_CHECK(HasNoQuestionMark(raw.data(), raw.size()));
    FUZZ_CHECK(VerifyChecksums(raw.data(), raw.size()));
    TClockConfig back{};
    FUZZ_CHECK(RawToConfig(back, raw.data(), raw.size()));
    FUZZ_CHECK(std::memcmp(&back, &record, CLOCK_CONFIG_SIZE) == 0);
    // Too small a buffer is refused without a write past it.
    const std::size_t small = size % RAW_TEXT_SIZE;
    std::vector<char> tooSmall(small);
    FUZZ_CHECK(ConfigToRaw(small ? tooSmall.data() : raw.data(), small, record) == 0);
    return 0;
}
