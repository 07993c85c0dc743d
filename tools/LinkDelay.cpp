// link-delay: a TCP proxy that holds every chunk for a while in each
// direction, a slow network link on one machine for the measurements.
//   link-delay LISTEN_HOST:PORT TARGET_HOST:PORT ONE_WAY_MS
// Each client gets its own connection to the target; what one side sends
// reaches the other ONE_WAY_MS after it arrived, in order, an end of stream
// too. The first line of output is the address really bound (port 0 picks a
// free one). SIGINT or SIGTERM ends it. Only data is delayed: the handshake
// and the kernel's acknowledgements stay local, so a round trip measured
// from the TCP stack itself shows none of the delay.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// Reading stops while this much waits for one side, as a full link would.
constexpr std::size_t MAX_QUEUED = 4 * 1024 * 1024;

struct TChunk {
    TClock::time_point due;
    std::string data;  // empty: the end of the stream
};

// One direction of a client's connection: bytes read from `from`, held,
// then written to `to`.
struct TDirection {
    int from = -1;
    int to = -1;
    std::deque<TChunk> queue;
    std::size_t queued = 0;
    bool ended = false;      // the end of the stream was read
    bool delivered = false;  // ... and passed on
    bool blocked = false;    // the last write found no room
};

struct TPair {
    std::string name;  // the client's address
    int client = -1;
    int target = -1;
    bool connecting = true;
    std::string why;  // what failed: the pair is closed at once
    TDirection up, down;  // client to target, target to client
};

bool SplitAddress(const std::string& text, std::string& host, std::string& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return !host.empty() && port.find_first_not_of("0123456789") == std::string::npos;
}

std::string AddressText(const sockaddr* addr, socklen_t size) {
    char host[NI_MAXHOST] = {}, port[NI_MAXSERV] = {};
    if (::getnameinfo(addr, size, host, sizeof(host), port, sizeof(port), NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    const std::string h = host;
    return (h.find(':') != std::string::npos ? "[" + h + "]" : h) + ":" + port;
}

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// A listening socket, or -1 with the reason on stderr.
int ListenOn(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        std::fprintf(stderr, "link-delay: %s:%s: %s\n", host.c_str(), port.c_str(), ::gai_strerror(rc));
        return -1;
    }
    int fd = -1, error = 0;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 16) != 0) {
            error = errno;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) std::fprintf(stderr, "link-delay: cannot listen on %s:%s: %s\n", host.c_str(), port.c_str(), std::strerror(error));
    return fd;
}

// Starts a connection to the target; -1 when none could even begin.
int ConnectTo(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) NoDelay(fd);
    return fd;
}

// Takes what `from` has to give, each read held until now + delay.
void ReadSide(TDirection& d, TClock::time_point now, TClock::duration delay, std::string& why) {
    char buf[16384];
    while (!d.ended && d.queued < MAX_QUEUED) {
        const ssize_t n = ::recv(d.from, buf, sizeof(buf), 0);
        if (n > 0) {
            d.queue.push_back({now + delay, std::string(buf, static_cast<std::size_t>(n))});
            d.queued += static_cast<std::size_t>(n);
        } else if (n == 0) {
            d.queue.push_back({now + delay, std::string()});
            d.ended = true;
        } else {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) why = std::strerror(errno);  // reset: the link is gone
            return;
        }
    }
}

// Passes on what has fallen due, as far as `to` takes it.
void WriteSide(TDirection& d, TClock::time_point now, std::string& why) {
    d.blocked = false;
    while (!d.queue.empty() && d.queue.front().due <= now) {
        TChunk& chunk = d.queue.front();
        if (chunk.data.empty()) {
            ::shutdown(d.to, SHUT_WR);
            d.delivered = true;
            d.queue.pop_front();
            continue;
        }
        const ssize_t n = ::send(d.to, chunk.data.data(), chunk.data.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                d.blocked = true;
            else
                why = std::strerror(errno);
            return;
        }
        d.queued -= static_cast<std::size_t>(n);
        chunk.data.erase(0, static_cast<std::size_t>(n));
        if (chunk.data.empty()) d.queue.pop_front();
    }
}

short Events(const TDirection& in, const TDirection& out) {
    short events = 0;
    if (!in.ended && in.queued < MAX_QUEUED) events |= POLLIN;
    if (out.blocked) events |= POLLOUT;
    return events;
}

}  // namespace

int main(int argc, char** argv) {
    std::string listenHost, listenPort, targetHost, targetPort;
    char* end = nullptr;
    const long oneWayMs = argc == 4 ? std::strtol(argv[3], &end, 10) : -1;
    if (argc != 4 || !SplitAddress(argv[1], listenHost, listenPort) || !SplitAddress(argv[2], targetHost, targetPort) ||
        *end != '\0' || oneWayMs < 0 || oneWayMs > 600000) {
        std::fputs("Usage: link-delay LISTEN_HOST:PORT TARGET_HOST:PORT ONE_WAY_MS\n"
                   "Forwards each client to the target, every chunk ONE_WAY_MS (0 to 600000) late\n"
                   "in each direction. Prints the address bound first; ends on SIGINT or SIGTERM.\n",
                   stderr);
        return 2;
    }
    const TClock::duration delay = std::chrono::milliseconds(oneWayMs);

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int signalFd = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    const int listenFd = ListenOn(listenHost, listenPort);
    if (signalFd < 0 || listenFd < 0) return 1;
    sockaddr_storage bound{};
    socklen_t boundSize = sizeof(bound);
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &boundSize);
    std::printf("%s\n", AddressText(reinterpret_cast<sockaddr*>(&bound), boundSize).c_str());
    std::fflush(stdout);

    std::list<TPair> pairs;
    for (;;) {
        std::vector<pollfd> fds{{signalFd, POLLIN, 0}, {listenFd, POLLIN, 0}};
        std::optional<TClock::time_point> wake;
        // A side with nothing asked of it is left out: a hung-up socket would
        // otherwise wake the loop over and over.
        auto entry = [](int fd, short events) { return pollfd{events ? fd : -1, events, 0}; };
        for (TPair& p : pairs) {
            fds.push_back(entry(p.client, Events(p.up, p.down)));
            fds.push_back(entry(p.target, p.connecting ? static_cast<short>(POLLOUT) : Events(p.down, p.up)));
            for (const TDirection* d : {&p.up, &p.down}) {
                if (p.connecting || d->queue.empty() || d->blocked) continue;
                if (!wake || d->queue.front().due < *wake) wake = d->queue.front().due;
            }
        }
        int timeoutMs = -1;
        if (wake) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - TClock::now()).count();
            timeoutMs = static_cast<int>(std::max<long long>(0, left));
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
            std::perror("link-delay: poll");
            return 1;
        }
        const TClock::time_point now = TClock::now();
        if (fds[0].revents & POLLIN) break;
        if (fds[1].revents & POLLIN) {
            for (;;) {
                sockaddr_storage from{};
                socklen_t fromSize = sizeof(from);
                const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &fromSize,
                                         SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0) break;
                NoDelay(fd);
                TPair p;
                p.name = AddressText(reinterpret_cast<sockaddr*>(&from), fromSize);
                p.client = fd;
                p.target = ConnectTo(targetHost, targetPort);
                if (p.target < 0) {
                    std::fprintf(stderr, "link-delay: client %s closed: cannot reach %s:%s\n", p.name.c_str(),
                                 targetHost.c_str(), targetPort.c_str());
                    ::close(fd);
                    continue;
                }
                std::fprintf(stderr, "link-delay: client %s connected\n", p.name.c_str());
                p.up.from = p.down.to = p.client;
                p.down.from = p.up.to = p.target;
                pairs.push_back(std::move(p));
            }
        }
        std::size_t i = 2;
        for (TPair& p : pairs) {
            // A pair added by this round's accept has no poll entry yet.
            if (i >= fds.size()) break;
            const short clientEvents = fds[i++].revents, targetEvents = fds[i++].revents;
            if (p.connecting && targetEvents) {
                int error = 0;
                socklen_t size = sizeof(error);
                ::getsockopt(p.target, SOL_SOCKET, SO_ERROR, &error, &size);
                if (error != 0) {
                    p.why = "cannot reach " + targetHost + ":" + targetPort + ": " + std::strerror(error);
                    continue;
                }
                p.connecting = false;
            }
            if (clientEvents & (POLLIN | POLLHUP | POLLERR)) ReadSide(p.up, now, delay, p.why);
            if (!p.connecting && (targetEvents & (POLLIN | POLLHUP | POLLERR))) ReadSide(p.down, now, delay, p.why);
        }
        for (auto it = pairs.begin(); it != pairs.end();) {
            if (!it->connecting && it->why.empty()) {
                WriteSide(it->up, now, it->why);
                WriteSide(it->down, now, it->why);
            }
            if (!it->why.empty() || (it->up.delivered && it->down.delivered)) {
                // Both ends have closed: the target is free for the next client.
                std::fprintf(stderr, "link-delay: client %s closed%s%s\n", it->name.c_str(),
                             it->why.empty() ? "" : ": ", it->why.c_str());
                ::close(it->client);
                ::close(it->target);
                it = pairs.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (TPair& p : pairs) {
        ::close(p.client);
        ::close(p.target);
    }
    return 0;
}
