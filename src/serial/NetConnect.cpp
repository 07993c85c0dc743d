// Reaching a terminal server: what a network port's name says, and the TCP
// connection to it.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "NetDevice.h"
#include "Rfc2217Device.h"
#include "TextUtil.h"

namespace {

constexpr char kTcpScheme[] = "tcp://";
constexpr char kRfc2217Scheme[] = "rfc2217://";

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const std::string_view p(prefix);
    return text.size() >= p.size() && EqualNoCase(std::string_view(text).substr(0, p.size()), p);
}

// getaddrinfo's failures as errno codes the open hints know.
int ResolveErrno(int rc) {
    switch (rc) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_FAIL:
        return ENXIO;
    case EAI_AGAIN:
        return EAGAIN;
    case EAI_MEMORY:
        return ENOMEM;
    case EAI_SYSTEM:
        return errno ? errno : EIO;
    default:
        return EINVAL;
    }
}

}  // namespace

int NetWaitMs(long long deadline) {
    const long long left = deadline - NowMs();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

bool IsNetworkPortName(const std::string& name) {
    const std::string trimmed(Trim(name));
    return StartsWithNoCase(trimmed, kTcpScheme) || StartsWithNoCase(trimmed, kRfc2217Scheme);
}

bool ParseNetworkPortName(const std::string& name, TNetPortName& parsed) {
    const std::string text(Trim(name));
    errno = EINVAL;
    std::string rest;
    TNetPortName out;
    if (StartsWithNoCase(text, kRfc2217Scheme)) {
        out.rfc2217 = true;
        rest = text.substr(sizeof kRfc2217Scheme - 1);
    } else if (StartsWithNoCase(text, kTcpScheme)) {
        rest = text.substr(sizeof kTcpScheme - 1);
    } else {
        return false;
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
        out.host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string::npos) return false;
        out.host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        // An IPv6 address without brackets cannot be told from its port.
        if (out.host.find(':') != std::string::npos) return false;
    }
    if (out.host.empty() || port.empty() || port.size() > 5) return false;
    for (unsigned char c : out.host)
        if (std::isspace(c) || c == '/' || c == '[' || c == ']' || c == '@') return false;
    unsigned long number = 0;
    for (unsigned char c : port) {
        if (!std::isdigit(c)) return false;
        number = number * 10 + (c - '0');
    }
    if (number == 0 || number > 65535) return false;
    out.port = std::to_string(number);
    parsed = out;
    errno = 0;
    return true;
}

std::shared_ptr<CSerialDevice> MakeNetworkDevice(const std::string& name) {
    TNetPortName parsed;
    if (ParseNetworkPortName(name, parsed) && !parsed.rfc2217) return std::make_shared<CTcpDevice>();
    // A malformed name gets a device too: its Open says what is wrong.
    if (StartsWithNoCase(std::string(Trim(name)), kTcpScheme)) return std::make_shared<CTcpDevice>();
    return std::make_shared<CRfc2217Device>();
}
std::string NetPortKey(const TNetPortName& name) {
    const std::string host = name.host.find(':') != std::string::npos ? "[" + name.host + "]" : name.host;
    std::string key = std::string(name.rfc2217 ? kRfc2217Scheme : kTcpScheme) + host + ":" + name.port;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

int ConnectTcp(const TNetPortName& name, long long deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    errno = 0;
    const int rc = ::getaddrinfo(name.host.c_str(), name.port.c_str(), &hints, &found);
    if (rc != 0) {
        errno = ResolveErrno(rc);
        return -1;
    }
    int err = ETIMEDOUT;
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (r < 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            for (;;) {
                r = ::poll(&p, 1, NetWaitMs(deadline));
                if (r < 0 && errno == EINTR) continue;
                break;
            }
            if (r == 0) {
                err = ETIMEDOUT;
                ::close(fd);
                break;  // the time is up for every address
            }
            int soError = 0;
            socklen_t len = sizeof soError;
            if (r < 0) {
                soError = errno;
            } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) < 0) {
                soError = errno;
            }
            r = soError ? -1 : 0;
            errno = soError;
        }
        if (r < 0) {
            err = errno;
            ::close(fd);
            continue;
        }
        // Each character of the protocol goes out at once; a dead server is
        // noticed within about half a minute even while nothing is sent.
        const int one = 1, idle = 10, interval = 5, count = 3;
        const unsigned userTimeout = 30000;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
        ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
        ::freeaddrinfo(found);
        return fd;
    }
    ::freeaddrinfo(found);
    errno = err;
    return -1;
}
