// The time commands: the clock's UTC time asked for, and set from the PC's.
#include <cstring>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "LineWait.h"
#include "TextUtil.h"

namespace {

// What the clock is given to answer "TU", and to refuse a set-time with '?'.
constexpr unsigned kTimeReplyPauseMs = 500;
constexpr unsigned kRefusalPauseMs = 500;
constexpr std::size_t kMaxReply = 64;

bool Shown(unsigned char c) { return c >= 0x20 && c < 0x7F; }

}  // namespace

TClockResult CClockState::AskTime(CCommPort& port, std::string& line) {
    line.clear();
    TClockResult sent = SendCommand(port, GET_UTC_TIME);
    if (!sent) return sent;
    std::string command;
    m_model.FormatCommand(command, GET_UTC_TIME);

    char reply[kMaxReply] = {};
    std::size_t got = 0;
    const long long start = NowMs();
    const long long taken = LineWait::CommandTakenMs(port, sent.lastByteMs, start);
    const unsigned bound = LineWait::AnswerBoundMs(port, kTimeReplyPauseMs, kMaxReply);
    auto ended = [](const char* buf, std::size_t n) {
        return std::memchr(buf, '\n', n) != nullptr || std::memchr(buf, '?', n) != nullptr;
    };
    bool ok = LineWait::Collect(port, reply, sizeof reply, got, start + bound, ended);
    if (ok) {
        LineWait::SleepUntil(taken + kTimeReplyPauseMs);
        ok = LineWait::Collect(port, reply, sizeof reply, got, 0, ended);
    }
    if (!ok) return PortFailure(port, command);
    TClockResult result;
    if (std::memchr(reply, '?', got)) return TClockResult::Fail(TClockFailure::Refused, command);
    if (!std::memchr(reply, '\n', got) && !std::memchr(reply, '\r', got)) {
        result = TClockResult::Fail(TClockFailure::NoReply, command);
        result.ms = static_cast<unsigned>(NowMs() - start);
        return result;
    }
    for (std::size_t i = 0; i < got && reply[i] != '\r' && reply[i] != '\n'; ++i)
        if (Shown(static_cast<unsigned char>(reply[i]))) line += reply[i];
    result.lastByteMs = sent.lastByteMs;
    result.lastByteFromMs = sent.lastByteFromMs;
    // When the last byte's echo arrived: the clock had the byte by then.
    result.echoedMs = sent.echoedMs > 0 ? sent.echoedMs : start;
    result.lastByteFromUs = sent.lastByteFromUs;
    result.echoedUs = sent.echoedMs > 0 ? sent.echoedUs : 0;
    return result;
}

TClockResult CClockState::SetTime(CCommPort& port) {
    TClockResult sent = SendCommand(port, SET_UTC_TIME);
    if (!sent) return sent;
    // A clock that took the time says nothing, so silence is waited out.
    char reply[kMaxReply] = {};
    std::size_t got = 0;
    const long long deadline = NowMs() + kRefusalPauseMs + port.RoundTripMs();
    if (!LineWait::Collect(port, reply, sizeof reply, got, deadline,
                           [](const char* buf, std::size_t n) { return std::memchr(buf, '?', n) != nullptr; }))
        return PortFailure(port);
    // Its text holds the time; the reason names the command by what it does.
    if (std::memchr(reply, '?', got)) return TClockResult::Fail(TClockFailure::Refused, "TS (set time)");
    return sent;
}
