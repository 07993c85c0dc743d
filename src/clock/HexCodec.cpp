#include "HexCodec.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr std::size_t FULL_RECORD_BYTES = 16;
constexpr std::size_t LAST_RECORD_BYTES = CLOCK_CONFIG_SIZE - 8 * FULL_RECORD_BYTES;  // 2
constexpr std::size_t HEADER_CHARS = 8;        // count, address, type
constexpr std::size_t RECORD_STRIDE = 45;      // ':' + 21 pairs + CR LF

static_assert(LAST_RECORD_BYTES == 2);
static_assert(8 * RECORD_STRIDE + 1 + 2 * (LAST_RECORD_BYTES + 5) + 2 == RAW_TEXT_SIZE);

std::size_t RecordBytes(std::size_t i) {
    return i == RAW_RECORD_COUNT - 1 ? LAST_RECORD_BYTES : FULL_RECORD_BYTES;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void EncodeByte(char* out, std::uint8_t value) {
    out[0] = HEX_DIGITS[value >> 4];
    out[1] = HEX_DIGITS[value & 0x0F];
}

// Lenient decoding, as the clock's text has always been read: the parse stops
// at the first character that is not a hex digit, so "7x" gives 7 and "x7" 0.
std::uint8_t DecodeLenient(const char* p) {
    const int hi = HexValue(p[0]);
    if (hi < 0) return 0;
    const int lo = HexValue(p[1]);
    if (lo < 0) return static_cast<std::uint8_t>(hi);
    return static_cast<std::uint8_t>(hi * 16 + lo);
}

// Strict decoding for the checks: -1 unless both characters are hex digits,
// so a damaged pair can never pass as a valid byte.
int DecodeStrict(const char* p) {
    const int hi = HexValue(p[0]);
    const int lo = HexValue(p[1]);
    if (hi < 0 || lo < 0) return -1;
    return hi * 16 + lo;
}

const char* FindColon(const char* from, const char* end) {
    if (from >= end) return nullptr;
    return static_cast<const char*>(std::memchr(from, ':', static_cast<std::size_t>(end - from)));
}

}  // namespace

std::size_t ConfigToRaw(char* buf, std::size_t size, const TClockConfig& config) {
    if (!buf || size < RAW_TEXT_SIZE) return 0;
    const std::uint8_t* data = ConfigBytes(config);
    char* out = buf;
    for (std::size_t i = 0; i < RAW_RECORD_COUNT; ++i) {
        const std::size_t count = RecordBytes(i);
        const std::size_t address = FULL_RECORD_BYTES * i;
        const std::uint8_t header[4] = {static_cast<std::uint8_t>(count),
                                        static_cast<std::uint8_t>(address >> 8),
                                        static_cast<std::uint8_t>(address & 0xFF), 0};
        *out++ = ':';
        std::uint8_t sum = 0;
        for (std::uint8_t b : header) {
            EncodeByte(out, b);
            out += 2;
            sum = static_cast<std::uint8_t>(sum + b);
        }
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint8_t b = data[address + k];
            EncodeByte(out, b);
            out += 2;
            sum = static_cast<std::uint8_t>(sum + b);
        }
        EncodeByte(out, static_cast<std::uint8_t>(-sum));
        out += 2;
        *out++ = '\r';
        *out++ = '\n';
    }
    return static_cast<std::size_t>(out - buf);
}

bool RawToConfig(TClockConfig& target, const char* buf, std::size_t size) {
    if (!buf) return false;
    const char* const end = buf + size;
    std::uint8_t* data = ConfigBytes(target);
    const char* pos = buf;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < RAW_RECORD_COUNT; ++i) {
        const char* colon = FindColon(pos, end);
        if (!colon) return false;
        const std::size_t count = RecordBytes(i);
        const std::size_t available = static_cast<std::size_t>(end - colon) - 1;
        if (available < HEADER_CHARS + 2 * count) return false;
        // The next search starts at this record's data, as the clock's text
        // has always been walked; the data of a sound record holds no ':'.
        pos = colon + 1 + HEADER_CHARS;
        for (std::size_t k = 0; k < count; ++k) data[offset + k] = DecodeLenient(pos + 2 * k);
        offset += count;
    }
    return true;
}

bool CheckHeader(const char* buf, std::size_t size) {
    if (!buf) return false;
    const char* const end = buf + size;
    const char* colon = FindColon(buf, end);
    if (!colon) return false;
    if (static_cast<std::size_t>(end - colon) - 1 < HEADER_CHARS) return false;
    return std::memcmp(colon + 1, "10000000", HEADER_CHARS) == 0;
}

bool HasAllRecords(const char* buf, std::size_t size) {
    if (!buf) return false;
    const char* const end = buf + size;
    const char* pos = buf;
    for (std::size_t i = 0; i < RAW_RECORD_COUNT; ++i) {
        const char* colon = FindColon(pos, end);
        if (!colon) return false;
        pos = colon + 1;
    }
    return true;
}

bool HasNoQuestionMark(const char* buf, std::size_t size) {
    if (!buf) return false;
    return std::memchr(buf, '?', size) == nullptr;
}

bool VerifyChecksums(const char* buf, std::size_t size) { return CheckRecords(buf, size).kind == TRecordFault::None; }

TRecordFault CheckRecords(const char* buf, std::size_t size) {
    auto fault = [](TRecordFault::TKind kind, std::size_t i) {
        TRecordFault f;
        f.kind = kind;
        f.record = static_cast<int>(i) + 1;
        return f;
    };
    if (!buf) return fault(TRecordFault::Malformed, 0);
    const char* const end = buf + size;
    const char* first = FindColon(buf, end);
    if (!first) return fault(TRecordFault::Malformed, 0);
    const std::size_t room = static_cast<std::size_t>(end - first);
    for (std::size_t i = 0; i < RAW_RECORD_COUNT; ++i) {
        const std::size_t count = RecordBytes(i);
        const std::size_t start = RECORD_STRIDE * i;
        const std::size_t length = 1 + 2 * (count + 5);
        if (start >= room || room - start < length) return fault(TRecordFault::Malformed, i);
        const char* rec = first + start;
        if (rec[0] != ':') return fault(TRecordFault::Malformed, i);
        // Decoding walks from colon to colon, so a separator damaged into a
        // ':' would shift every later record while each still sums right.
        if (i > 0 && (rec[-2] != '\r' || rec[-1] != '\n')) return fault(TRecordFault::Malformed, i - 1);
        int bytes[FULL_RECORD_BYTES + 5];
        for (std::size_t k = 0; k < count + 5; ++k) {
            bytes[k] = DecodeStrict(rec + 1 + 2 * k);
            if (bytes[k] < 0) return fault(TRecordFault::Malformed, i);
        }
        if (static_cast<std::size_t>(bytes[0]) != count) return fault(TRecordFault::Malformed, i);
        if (static_cast<std::size_t>(bytes[1] * 256 + bytes[2]) != FULL_RECORD_BYTES * i)
            return fault(TRecordFault::Malformed, i);
        if (bytes[3] != 0) return fault(TRecordFault::Malformed, i);
        unsigned sum = 0;
        for (std::size_t k = 0; k < count + 5; ++k) sum += static_cast<unsigned>(bytes[k]);
        if ((sum & 0xFF) != 0) return fault(TRecordFault::Checksum, i);
    }
    return TRecordFault();
}

bool RecordsComplete(const char* buf, std::size_t size) {
    if (!buf) return false;
    const char* const end = buf + size;
    const char* pos = buf;
    const char* colon = nullptr;
    for (std::size_t i = 0; i < RAW_RECORD_COUNT; ++i) {
        colon = FindColon(pos, end);
        if (!colon) return false;
        pos = colon + 1;
    }
    // Through the last checksum and its line end, so nothing of the answer is
    // left to arrive after it.
    return static_cast<std::size_t>(end - pos) >= 2 * (LAST_RECORD_BYTES + 5) + 2;
}
