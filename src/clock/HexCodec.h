// The record on the line: nine Intel HEX data records (16 bytes each, the
// last 2), 377 characters with CR LF after each record. Every routine works
// within the buffer it is given and never reads or writes past its size.
#pragma once

#include <cstddef>

#include "ClockConfig.h"

constexpr std::size_t RAW_RECORD_COUNT = 9;
constexpr std::size_t RAW_TEXT_SIZE = 377;
constexpr std::size_t COMM_BUFFER_SIZE = 1024;

// Writes the 377 characters at the start of buf; returns their number, or 0
// when buf is null or too small.
std::size_t ConfigToRaw(char* buf, std::size_t size, const TClockConfig& config);
// Decodes nine records into target; false when a record is missing or cut
// short by the end of the buffer (target may then be partly written).
bool RawToConfig(TClockConfig& target, const char* buf, std::size_t size);
// The first ':' is followed by "10000000".
bool CheckHeader(const char* buf, std::size_t size);
// At least nine ':' characters.
bool HasAllRecords(const char* buf, std::size_t size);
// No '?' anywhere in the buffer (the clock did not refuse the command).
bool HasNoQuestionMark(const char* buf, std::size_t size);
// Nine well-formed records, 45 characters apart from the first ':', each but
// the last followed by CR LF, with the right counts, addresses, types and
// checksums.
bool VerifyChecksums(const char* buf, std::size_t size);

// What VerifyChecksums found wrong first, and in which record (from 1).
struct TRecordFault {
    enum TKind { None, Malformed, Checksum } kind = None;
    int record = 0;
};
TRecordFault CheckRecords(const char* buf, std::size_t size);
// True once the buffer holds nine records, the last one through its
// checksum and line end: the whole answer has come.
bool RecordsComplete(const char* buf, std::size_t size);
