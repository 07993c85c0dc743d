// The program's end of the simulated clock's line, for the tests: the slave
// device opened raw and non-blocking (or a TCP connection to a clock that
// listens), with reads bounded by a deadline.
#pragma once

#include <string>

class CSimLine {
public:
    CSimLine() = default;
    explicit CSimLine(const std::string& path) { Open(path); }
    ~CSimLine() { Close(); }
    CSimLine(const CSimLine&) = delete;
    CSimLine& operator=(const CSimLine&) = delete;

    bool Open(const std::string& path, unsigned speed = 0);  // speed: a termios B constant
    // "HOST:PORT" as the clock prints it (an IPv4 host); false when refused.
    bool Connect(const std::string& address);
    void Close();
    int Fd() const { return m_fd; }

    bool Write(const std::string& bytes);
    // Reads until count bytes came or the deadline passed.
    std::string Read(std::size_t count, int timeoutMs = 3000);
    // Everything that arrives within the window.
    std::string ReadFor(int ms) { return Read(std::string::npos, ms); }
    // Writes byte by byte, taking one byte (the echo) after each, like the
    // program's command writer.
    std::string SendEchoed(const std::string& text, int perByteMs = 1000);

private:
    int m_fd = -1;
};
