// What an exchange with the clock came to: done, or what went wrong and
// where, so the user is told more than that it failed. Tests as a bool.
#pragma once

#include <string>

enum class TClockFailure {
    None,
    Port,         // the port itself failed: detail holds its reason
    NoCommand,    // the command has no text for the selected model
    NoEcho,       // byte `index` of `command` was not echoed within `ms`
    WrongEcho,    // byte `index` of `command` came back as `got`
    Refused,      // the clock answered '?' to `command`
    ShortAnswer,  // `count` of the 377 characters came within `ms`
    BadHeader,    // the answer does not begin with the first record
    BadRecord,    // record `index` is malformed
    BadChecksum,  // record `index` fails its checksum
    LongAnswer,   // `count` characters, more than any setup takes
    Mismatch,     // the setup read back differs from the one sent
    NoReply,      // no line end of the reply to `command` within `ms`
    NoRecords,    // the setup could not be put into records
    NotATime,     // the reply to `command` (in detail) is no DAY:H:M:S
};

// What was done already when a write failed late.
enum class TWriteLeft {
    Nothing,    // failed before the clock was asked to store the setup
    MayHoldNew, // the store command may have been taken
    StoredNotReset,
};

struct TClockResult {
    TClockFailure failure = TClockFailure::None;
    std::string command;  // the command's text, where one was involved
    int index = 0;        // byte or record, counted from 1
    unsigned count = 0;   // characters received
    unsigned ms = 0;      // how long was waited
    int sent = -1;        // the byte sent and what came back, for a wrong echo
    int got = -1;
    int resentByte = 0;   // a byte (from 1) sent a second time, 0 for none
    std::string detail;   // the port's reason
    TWriteLeft left = TWriteLeft::Nothing;
    long long lastByteMs = 0;  // NowMs when a command's last byte was written
    long long lastByteFromMs = 0;  // NowMs just before it was handed to the port
    long long echoedMs = 0;    // NowMs when the last byte's echo arrived: the clock had the byte by then
    // The same two edges in microseconds (LineWait::NowUs), where the writer
    // saw them happen; 0 when it did not. They bound when the clock took the
    // last byte more tightly than whole milliseconds can.
    long long lastByteFromUs = 0;
    long long echoedUs = 0;

    explicit operator bool() const { return failure == TClockFailure::None; }
    // One line for the user, without call names.
    std::string Reason() const;
    // The reason as a sentence of its own, for the window; empty when done.
    std::string Sentence() const;
    // A machine-readable name of the failure for --json ("no_echo", ...).
    const char* Kind() const;

    static TClockResult Done() { return TClockResult(); }
    static TClockResult Fail(TClockFailure failure, std::string command = std::string());
};

class CCommPort;
// The port failed: with its own reason, during command (empty for none).
TClockResult PortFailure(const CCommPort& port, std::string command = std::string());

// A byte as the user reads it in a reason: 'A', or 0x0D for what is not printable.
std::string DescribeByte(int byte);
