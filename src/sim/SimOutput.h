// What the simulated clock has to say, each byte with the time it may leave:
// echoes at once, replies after their delay, one character time apart when
// the line is paced. Used by the serving thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>

class CSimOutput {
public:
    using TClock = std::chrono::steady_clock;

    // Nothing on its way; the line is free now.
    void Clear();
    // Queues text to leave no earlier than earliest, each byte charTime after
    // the one before it. More than a client could want is dropped, as a
    // clock's UART would overrun.
    void Enqueue(const std::string& text, TClock::time_point earliest, TClock::duration charTime);
    bool Empty() const { return m_bytes.empty(); }
    // When the first queued byte falls due; only when not Empty.
    TClock::time_point NextDue() const { return m_bytes.front().due; }
    // Copies the bytes due by now into buf, up to size; they stay queued
    // until Consume.
    std::size_t PeekDue(TClock::time_point now, char* buf, std::size_t size) const;
    void Consume(std::size_t count);
    // Forgets what has fallen due: bytes sent with nothing plugged in.
    void DropDue(TClock::time_point now);

private:
    struct TOutByte {
        char c;
        TClock::time_point due;
    };
    std::deque<TOutByte> m_bytes;
    TClock::time_point m_lineFree;  // when the last queued character has left
};
