#include "SimLine.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool CSimLine::Open(const std::string& path, unsigned speed) {
    Close();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (m_fd < 0 || ::tcgetattr(m_fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (speed) ::cfsetspeed(&tio, speed);
    return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
}

void CSimLine::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

// The tests write far less than the line's buffer holds, so one write does.
bool CSimLine::Write(const std::string& bytes) {
    return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::string CSimLine::Read(std::size_t count, int timeoutMs) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    std::string out;
    char buf[512];
    while (out.size() < count) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd p{m_fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) break;
        const ssize_t n = ::read(m_fd, buf, std::min(sizeof(buf), count - out.size()));
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::string CSimLine::SendEchoed(const std::string& text, int perByteMs) {
    std::string echoes;
    for (char c : text) {
        if (!Write(std::string(1, c))) break;
        echoes += Read(1, perByteMs);
    }
    return echoes;
}
