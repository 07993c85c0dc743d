#include "SimLineServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "SimInProcessLine.h"
#include "SimOutput.h"
#include "TermiosLine.h"

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Numeric "HOST:PORT" of a socket address, IPv6 hosts in brackets.
std::string AddressText(const sockaddr* addr, socklen_t size) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    if (::getnameinfo(addr, size, host, sizeof(host), port, sizeof(port), NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    const std::string h = host;
    return (h.find(':') != std::string::npos ? "[" + h + "]" : h) + ":" + port;
}

}  // namespace

bool CSimLineServer::Start() {
    if (IsRunning()) return true;
    auto fail = [this](const char* what) {
        m_lastError = std::string(what) + ": " + std::strerror(errno);
        CloseAll();
        return false;
    };

    m_masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_masterFd < 0) return fail("posix_openpt");
    if (::grantpt(m_masterFd) != 0) return fail("grantpt");
    if (::unlockpt(m_masterFd) != 0) return fail("unlockpt");
    char name[256] = {};
    if (::ptsname_r(m_masterFd, name, sizeof(name)) != 0) return fail("ptsname_r");
    const int flags = ::fcntl(m_masterFd, F_GETFL);
    if (flags < 0 || ::fcntl(m_masterFd, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");

    // Our own slave descriptor is never read; it keeps the line up while the
    // program closes and reopens the device, and lets us see its baud rate.
    m_slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveFd < 0) return fail("open slave");
    termios tio{};
    if (::tcgetattr(m_slaveFd, &tio) != 0) return fail("tcgetattr");
    MakeRawLine(tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(m_slaveFd, TCSANOW, &tio) != 0) return fail("tcsetattr");

    // Exclusive mode set by a client would outlive its close because our
    // descriptor keeps the device open; watching closes lets us end it as the
    // last close of a real port would. Without the watch we serve anyway.
    m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        CloseFd(m_watchFd);

    m_devicePath = name;
    m_lineFd = m_masterFd;
    return StartServing();
}

bool CSimLineServer::Listen(const std::string& host, std::uint16_t port) {
    if (IsRunning()) return true;
    m_lastError.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        m_lastError = "cannot listen on " + host + ":" + service + ": " + ::gai_strerror(rc);
        return false;
    }
    int lastErrno = 0;
    for (addrinfo* a = found; a && m_listenFd < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        // A clock restarted on the same port must not wait out TIME_WAIT.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
            lastErrno = errno;
            ::close(fd);
            continue;
        }
        m_listenFd = fd;
    }
    ::freeaddrinfo(found);
    if (m_listenFd < 0) {
        m_lastError = "cannot listen on " + host + ":" + service + ": " + std::strerror(lastErrno);
        return false;
    }
    m_lineFd = -1;
    return StartServing();
}

std::string CSimLineServer::ListenAddress() const {
    if (m_listenFd < 0) return "";
    sockaddr_storage addr{};
    socklen_t size = sizeof(addr);
    if (::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) return "";
    return AddressText(reinterpret_cast<sockaddr*>(&addr), size);
}

bool CSimLineServer::StartServing() {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        m_lastError = std::string("eventfd: ") + std::strerror(errno);
        CloseAll();
        return false;
    }
    m_lastError.clear();
    m_protocol.Reset();
    m_bytesRead = 0;
    m_stopServing = false;
    {
        std::lock_guard lock(m_answerMutex);
        m_bytesAnswered = 0;
        m_serving = true;
    }
    try {
        m_thread = std::thread(&CSimLineServer::Serve, this);
    } catch (const std::system_error& e) {
        m_lastError = e.what();
        SetServing(false);
        CloseAll();
        return false;
    }
    return true;
}

void CSimLineServer::SetServing(bool serving) {
    {
        std::lock_guard lock(m_answerMutex);
        m_serving = serving;
    }
    m_answerCv.notify_all();
}

std::uint64_t CSimLineServer::BytesAnswered() const {
    std::lock_guard lock(m_answerMutex);
    return m_bytesAnswered;
}

bool CSimLineServer::WaitAnswered(std::uint64_t count, int timeoutMs) const {
    std::unique_lock lock(m_answerMutex);
    return m_answerCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return m_bytesAnswered >= count || !m_serving; }) &&
           m_bytesAnswered >= count;
}

void CSimLineServer::Stop() {
    if (m_thread.joinable()) {
        m_stopServing = true;
        const std::uint64_t one = 1;
        // The eventfd counter cannot overflow from one write; ignore the result.
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
        if (m_inProcess) m_inProcess->Bytes().InterruptWait(CMemoryLine::TEnd::Far);
        m_thread.join();
    }
    if (m_inProcess) m_inProcess->Bytes().HangUp(CMemoryLine::TEnd::Far);
    SetServing(false);
    CloseAll();
}

void CSimLineServer::CloseAll() {
    CloseFd(m_clientFd);
    CloseFd(m_listenFd);
    m_lineFd = -1;
    CloseFd(m_watchFd);
    CloseFd(m_wakeFd);
    CloseFd(m_slaveFd);
    CloseFd(m_masterFd);
    m_inProcess.reset();
    m_devicePath.clear();
}

TSimLineRate CSimLineServer::LineRate() const {
    if (m_inProcess) return {m_inProcess->Settings().rate, true};
    if (m_slaveFd < 0) return {};
    termios tio{};
    if (::tcgetattr(m_slaveFd, &tio) != 0) return {0, true};
    return {SpeedToRate(::cfgetospeed(&tio)), true};
}

std::optional<CSimLineServer::TClock::time_point> CSimLineServer::ServeDue(TClock::time_point now, bool& blocked) {
    m_protocol.CheckTimeouts(now);
    blocked = WriteDueOutput(now);
    {
        std::lock_guard lock(m_answerMutex);
        if (m_bytesAnswered != m_bytesRead) {
            m_bytesAnswered = m_bytesRead;
            m_answerCv.notify_all();
        }
    }
    std::optional<TClock::time_point> wake;
    if (!m_output.Empty() && !blocked) wake = m_output.NextDue();
    if (const std::optional<TClock::time_point> expiry = m_protocol.InputExpiry())
        wake = wake ? std::min(*wake, *expiry) : *expiry;
    return wake;
}

void CSimLineServer::Serve() {
    if (m_inProcess) {
        ServeInProcess();
        return;
    }
    char buf[512];
    for (;;) {
        TClock::time_point now = TClock::now();
        bool blocked = false;
        // Sleep until input, a stop, or the next thing that falls due.
        const std::optional<TClock::time_point> wake = ServeDue(now, blocked);
        timespec ts{};
        if (wake) {
            const auto left = std::max(TClock::duration::zero(), *wake - now);
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        // The third is the close watch on a pseudo-terminal, the listening
        // socket on TCP; poll skips a descriptor of -1 (no client yet).
        const int third = m_listenFd >= 0 ? m_listenFd : m_watchFd;
        pollfd fds[3] = {{m_wakeFd, POLLIN, 0},
                         {m_lineFd, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
                         {third, POLLIN, 0}};
        const int ready = ::ppoll(fds, 3, wake ? &ts : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) return;
        if (fds[2].revents & POLLIN) {
            if (m_listenFd >= 0) {
                AcceptClient();
            } else {
                char events[4096];
                while (::read(m_watchFd, events, sizeof(events)) > 0) {
                }
                ::ioctl(m_slaveFd, TIOCNXCL);
            }
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const ssize_t n = ::read(m_lineFd, buf, sizeof(buf));
                if (n > 0) {
                    m_bytesRead += static_cast<std::uint64_t>(n);
                    m_protocol.Take(buf, static_cast<std::size_t>(n));
                    continue;
                }
                // A client that left; the pseudo-terminal never ends while our
                // slave descriptor is open.
                if (m_clientFd >= 0 && (n == 0 || (errno != EAGAIN && errno != EINTR)))
                    DropClient(n == 0 ? "left" : std::string("lost: ") + std::strerror(errno));
                break;
            }
        } else if (m_clientFd >= 0 && (fds[1].revents & (POLLHUP | POLLERR))) {
            DropClient("lost");  // reset before a read could see it
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while our slave descriptor is open; do not spin if
            // it does, but stay stoppable.
            pollfd stop{m_wakeFd, POLLIN, 0};
            if (::poll(&stop, 1, 100) > 0) return;
        }
    }
}

void CSimLineServer::AcceptClient() {
    for (;;) {
        sockaddr_storage addr{};
        socklen_t size = sizeof(addr);
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &size, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;  // EAGAIN once the queue is empty; other errors are the client's own
        const std::string name = AddressText(reinterpret_cast<sockaddr*>(&addr), size);
        if (m_clientFd >= 0) {
            // One line, one program: a second one would mix its commands in.
            // Turned away as a terminal server does it, with a word first.
            static constexpr char kInUse[] = "Port already in use\r\n";
            [[maybe_unused]] const ssize_t said = ::send(fd, kInUse, sizeof kInUse - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
            if (m_onClient) m_onClient("turned away " + name + ": serving " + m_clientName);
            continue;
        }
        // Every echo leaves at once, as a character does on a wire.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        m_clientFd = fd;
        m_lineFd = fd;
        m_clientName = name;
        m_protocol.Reset();
        if (m_onClient) m_onClient("client " + name + " connected");
    }
}

void CSimLineServer::DropClient(const std::string& why) {
    if (m_clientFd < 0) return;
    ::close(m_clientFd);
    m_clientFd = -1;
    m_lineFd = -1;
    m_protocol.Reset();
    if (m_onClient) m_onClient("client " + m_clientName + " " + why);
    m_clientName.clear();
}

ssize_t CSimLineServer::WriteLine(const char* data, std::size_t size) {
    if (m_inProcess)
        return m_inProcess->Bytes().Write(CMemoryLine::TEnd::Far, reinterpret_cast<const unsigned char*>(data), size);
    // A client gone away must not end the whole program with SIGPIPE.
    if (m_clientFd >= 0) return ::send(m_clientFd, data, size, MSG_NOSIGNAL);
    return ::write(m_lineFd, data, size);
}

bool CSimLineServer::WriteDueOutput(TClock::time_point now) {
    char chunk[1024];
    // Bytes sent while no client is connected are lost, as on a line with
    // nothing plugged in.
    if (m_lineFd < 0 && !m_inProcess) {
        m_output.DropDue(now);
        return false;
    }
    while (!m_output.Empty() && m_output.NextDue() <= now) {
        const std::size_t n = m_output.PeekDue(now, chunk, sizeof(chunk));
        const ssize_t written = WriteLine(chunk, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            // EAGAIN: the program is not reading; wait until there is room.
            if (errno == EAGAIN || m_clientFd < 0) return true;
            DropClient(std::string("lost: ") + std::strerror(errno));
            return false;
        }
        m_output.Consume(static_cast<std::size_t>(written));
        if (static_cast<std::size_t>(written) < n) return true;
    }
    return false;
}
