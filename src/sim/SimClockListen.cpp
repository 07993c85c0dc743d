// The simulated clock on raw TCP: a listening socket, one client at a time.
// A TCP stream carries no break, so a new client is what tells the clock to
// drop any half-received command or records and be ready for a command.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SimClock.h"

namespace {

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

void CSimClock::SetClientHandler(std::function<void(const std::string&)> handler) {
    m_onClient = std::move(handler);
}

bool CSimClock::Listen(const std::string& host, std::uint16_t port) {
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

std::string CSimClock::ListenAddress() const {
    if (m_listenFd < 0) return "";
    sockaddr_storage addr{};
    socklen_t size = sizeof(addr);
    if (::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) return "";
    return AddressText(reinterpret_cast<sockaddr*>(&addr), size);
}

void CSimClock::AcceptClient() {
    for (;;) {
        sockaddr_storage addr{};
        socklen_t size = sizeof(addr);
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &size, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;  // EAGAIN once the queue is empty; other errors are the client's own
        const std::string name = AddressText(reinterpret_cast<sockaddr*>(&addr), size);
        if (m_clientFd >= 0) {
            // One line, one program: a second one would mix its commands in.
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
        ResetLine();
        if (m_onClient) m_onClient("client " + name + " connected");
    }
}

void CSimClock::DropClient(const std::string& why) {
    if (m_clientFd < 0) return;
    ::close(m_clientFd);
    m_clientFd = -1;
    m_lineFd = -1;
    ResetLine();
    if (m_onClient) m_onClient("client " + m_clientName + " " + why);
    m_clientName.clear();
}

ssize_t CSimClock::WriteLine(const char* data, std::size_t size) {
    // A client gone away must not end the whole program with SIGPIPE.
    if (m_clientFd >= 0) return ::send(m_clientFd, data, size, MSG_NOSIGNAL);
    return ::write(m_lineFd, data, size);
}
