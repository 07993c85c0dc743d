// A record of what went over the line, for whoever has to find out why a
// clock misbehaves: every block of bytes sent or received, one line each, with
// a monotonic time in milliseconds and its direction:
//
//   12345.678 > 1,K201XR
//   12346.001 < :10000000...<0D><0A>
//   12346.100 - break
//   12346.200 - round trip 212 ms on rfc2217://ts1:2001
//
// '>' sent, '<' received, '-' an event: a break on the line, or a network
// port's round trip (when it opens and when it changes noticeably). Printable characters stand
// for themselves; every other byte, and '<' itself, is written as <HH>, so
// each line gives back exactly the bytes it stands for.
//
// The file is bounded: once a line would take it past its limit, one last
// line says it was cut and nothing more is written. One trace may be shared
// by several ports and threads; each line is written whole.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CLineTrace {
public:
    static constexpr std::size_t DEFAULT_LIMIT = 4u << 20;  // 4 MiB

    ~CLineTrace();
    CLineTrace(const CLineTrace&) = delete;
    CLineTrace& operator=(const CLineTrace&) = delete;

    // Creates or empties the file at path. A symbolic link is followed only
    // where the kernel would (see ResolveSaveTarget); a FIFO, device or
    // folder is refused without waiting. Null with reason on failure.
    static std::shared_ptr<CLineTrace> Open(const std::string& path, std::string& reason,
                                            std::size_t limit = DEFAULT_LIMIT);

    void Sent(const unsigned char* bytes, std::size_t count) { Line('>', bytes, count); }
    void Received(const unsigned char* bytes, std::size_t count) { Line('<', bytes, count); }
    void Break();
    // A network port's round trip as now measured.
    void RoundTrip(const std::string& port, unsigned ms);

    // Told once, with the system's reason, when the file can no longer be
    // written (a full disk): the trace ends there, the port goes on.
    void SetFailureSink(std::function<void(const std::string& reason)> sink);

    // The bytes a line's text stands for (after the time and direction).
    // False when the text is not in the trace's form.
    static bool DecodeBytes(const std::string& text, std::string& bytes);

private:
    CLineTrace(int fd, std::size_t limit) : m_fd(fd), m_limit(limit) {}
    void Line(char direction, const unsigned char* bytes, std::size_t count);
    void Put(const std::string& text);  // holds m_mutex

    std::mutex m_mutex;
    int m_fd;
    std::size_t m_limit;
    std::size_t m_written = 0;
    bool m_ended = false;  // cut, or the file could not be written
    std::function<void(const std::string&)> m_failureSink;
};
