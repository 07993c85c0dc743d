// How long the program waits for the clock. The protocol's pauses are the
// least time the clock is given; what the program waits for (an echo, the
// nine records, a line end) it then awaits further, until it has come or a
// bound has passed. The bounds grow with the link's round trip, so a clock
// behind a terminal server far away, or a busy one, is not taken for a
// silent one.
#pragma once

#include <cstddef>
#include <functional>

class CCommPort;

namespace LineWait {

// Beyond the pause and the round trip: a local line's echo bound is 1 s.
constexpr unsigned kMarginMs = 900;

// The profile's "CharDelay", read afresh for every command.
unsigned CharDelayMs();
// The longest an echo is awaited after its byte was written.
unsigned EchoBoundMs(const CCommPort& port, unsigned charDelayMs);
// The longest an answer of chars characters is awaited: the least pause,
// the time the line needs for it, the round trip and the margin.
unsigned AnswerBoundMs(CCommPort& port, unsigned leastMs, std::size_t chars);

// Takes what the port has queued into buf (from got up to capacity) until
// done(buf, got) holds, or until the deadline (NowMs) has passed. Waits in
// the process-wide sleep, so a window stays painted. False when the port
// failed.
bool Collect(CCommPort& port, char* buf, std::size_t capacity, std::size_t& got, long long deadline,
             const std::function<bool(const char*, std::size_t)>& done);
// The monotonic clock in microseconds: for moments that whole milliseconds
// would blur (when an echo arrived).
long long NowUs();
// The process-wide sleep until the deadline (NowMs).
void SleepUntil(long long deadline);

// When the clock can be taken to have had the command sent returned done
// (NowMs): the pauses after a command count from there, so that the clock
// sees between two commands the spacing a cable gives. Its last byte reached
// the clock as long after it was written as the next one will take, so on a
// cable it is the echo's read after the pause; over the network, not before
// half the round trip ahead of its echo.
long long CommandTakenMs(const CCommPort& port, long long lastByteMs, long long doneMs);

}  // namespace LineWait
