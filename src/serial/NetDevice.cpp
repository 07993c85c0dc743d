#include "NetDevice.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <set>

#include "Prompts.h"
#include "Resource.h"
#include "Rfc2217Device.h"
#include "StringTable.h"
#include "TermiosDevice.h"
#include "TextUtil.h"

namespace {

constexpr char kTcpScheme[] = "tcp://";
constexpr char kRfc2217Scheme[] = "rfc2217://";
// A Write takes at most this much at once; the port writes the rest next.
constexpr std::size_t kWriteChunk = 4096;
// Received data waits here while the pipe is full; beyond it the socket is
// left unread, and the server's own flow control holds the rest.
constexpr std::size_t kInPendingLimit = 64 * 1024;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const std::string_view p(prefix);
    return text.size() >= p.size() && EqualNoCase(std::string_view(text).substr(0, p.size()), p);
}

// The ports this program holds open, by their name as "scheme://host:port"
// in lower case: a second opener is refused as with a tty.
std::mutex g_claimMutex;
std::set<std::string> g_claimed;

std::string ClaimKey(const TNetPortName& name) {
    std::string key = std::string(name.rfc2217 ? kRfc2217Scheme : kTcpScheme) + name.host + ":" + name.port;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

int WaitMs(long long deadline) {
    const long long left = deadline - NowMs();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
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

CNetDevice::~CNetDevice() { Close(); }

bool CNetDevice::Open(const std::string& path) {
    Close();
    TNetPortName name;
    if (!ParseNetworkPortName(path, name)) {
        errno = EINVAL;
        return false;
    }
    const std::string claim = ClaimKey(name);
    {
        std::lock_guard<std::mutex> lock(g_claimMutex);
        if (!g_claimed.insert(claim).second) {
            errno = EBUSY;
            return false;
        }
    }
    m_claim = claim;
    m_name = name;
    auto fail = [this](int err) {
        Release();
        errno = err;
        return false;
    };
    const long long deadline = NowMs() + m_connectMs;
    if (!Connect(name, deadline)) return fail(errno);

    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) < 0) return fail(errno);
    m_pipeRead = fds[0];
    m_pipeWrite = fds[1];
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) return fail(errno);
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_dcb = DCB{};
        m_dcb.DCBlength = 28;
        m_dcb.fBinary = true;
        m_dcb.BaudRate = 9600;
        m_dcb.ByteSize = 8;
        m_dcb.XonChar = 0x11;
        m_dcb.XoffChar = 0x13;
    }
    m_gone = 0;
    m_stop = false;
    try {
        m_io = std::thread([this] { IoLoop(); });
    } catch (const std::system_error& e) {
        return fail(e.code().value());
    }
    if (!Handshake(NowMs() + m_answerMs)) return fail(errno ? errno : EPROTO);
    return true;
}

bool CNetDevice::Connect(const TNetPortName& name, long long deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    errno = 0;
    const int rc = ::getaddrinfo(name.host.c_str(), name.port.c_str(), &hints, &found);
    if (rc != 0) {
        errno = ResolveErrno(rc);
        return false;
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
                r = ::poll(&p, 1, WaitMs(deadline));
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
        m_sock = fd;
        return true;
    }
    ::freeaddrinfo(found);
    errno = err;
    return false;
}

void CNetDevice::Release() {
    m_stop = true;
    Wake();
    if (m_io.joinable()) m_io.join();
    int sock = m_sock.exchange(-1);
    CloseFd(sock);
    CloseFd(m_pipeRead);
    CloseFd(m_pipeWrite);
    CloseFd(m_wakeFd);
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        m_outPending.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_inMutex);
        m_inPending.clear();
    }
    if (!m_claim.empty()) {
        std::lock_guard<std::mutex> lock(g_claimMutex);
        g_claimed.erase(m_claim);
        m_claim.clear();
    }
}

void CNetDevice::Close() {
    if (m_sock < 0 && m_claim.empty()) return;
    const int saved = errno;
    Release();
    errno = saved;
}

bool CNetDevice::IsOpen() const { return m_sock >= 0; }

bool CNetDevice::OpenCheck() const {
    if (m_sock >= 0 && m_pipeRead >= 0) return true;
    errno = EBADF;
    return false;
}

void CNetDevice::Wake() {
    if (m_wakeFd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void CNetDevice::Gone(int err) {
    int expected = 0;
    m_gone.compare_exchange_strong(expected, err ? err : ECONNRESET);
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_stateChanged.notify_all();
}

bool CNetDevice::FlushOutLocked() {
    while (!m_outPending.empty()) {
        const ssize_t n = ::send(m_sock, m_outPending.data(), m_outPending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_outPending.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;
    }
    return true;
}

bool CNetDevice::SendRaw(const std::string& bytes) {
    if (!OpenCheck()) return false;
    if (const int gone = m_gone) {
        errno = gone;
        return false;
    }
    std::lock_guard<std::mutex> lock(m_outMutex);
    const bool wasEmpty = m_outPending.empty();
    m_outPending += bytes;
    if (!FlushOutLocked()) return false;
    // What the socket did not take now, the I/O thread sends when it can.
    if (!m_outPending.empty() && wasEmpty) Wake();
    return true;
}

void CNetDevice::IoLoop() {
    unsigned char buf[4096];
    bool reading = true;  // the socket still gives data
    // Moves what was received into the pipe; the pipe closes once the
    // connection's last data is in it.
    auto toPipe = [this, &reading] {
        std::lock_guard<std::mutex> lock(m_inMutex);
        while (!m_inPending.empty()) {
            const ssize_t n = ::write(m_pipeWrite, m_inPending.data(), m_inPending.size());
            if (n > 0) {
                m_inPending.erase(0, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        if (!reading && m_inPending.empty() && m_pipeWrite >= 0) {
            ::close(m_pipeWrite);
            m_pipeWrite = -1;
        }
        return m_inPending.size();
    };

    while (!m_stop) {
        const std::size_t waiting = toPipe();
        if (!reading && waiting == 0) break;
        bool sending;
        {
            std::lock_guard<std::mutex> lock(m_outMutex);
            sending = !m_outPending.empty();
        }
        pollfd fds[3] = {{m_wakeFd, POLLIN, 0},
                         {reading ? m_sock.load() : -1,
                          static_cast<short>((waiting < kInPendingLimit ? POLLIN : 0) | (sending ? POLLOUT : 0)), 0},
                         {waiting ? m_pipeWrite : -1, POLLOUT, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            Gone(errno);
            reading = false;
            continue;
        }
        if (fds[0].revents) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &count, sizeof count);
        }
        if (m_stop) break;
        if (fds[1].revents & POLLOUT) {
            std::lock_guard<std::mutex> lock(m_outMutex);
            if (!FlushOutLocked()) m_outPending.clear();  // the read below tells why
        }
        // A hang-up or an error is read to its end: data before it comes first.
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(m_sock, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                std::string data;
                Received(buf, static_cast<std::size_t>(n), data);
                if (!data.empty()) {
                    std::lock_guard<std::mutex> lock(m_inMutex);
                    m_inPending += data;
                }
            } else if (n == 0) {
                Gone(ECONNRESET);
                reading = false;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                Gone(errno);
                reading = false;
            }
        }
    }
}

bool CNetDevice::GetLineState(DCB& dcb) {
    if (!OpenCheck()) return false;
    std::lock_guard<std::mutex> lock(m_stateMutex);
    dcb = m_dcb;
    return true;
}

bool CNetDevice::SetLineState(const DCB& dcb) {
    if (!OpenCheck()) return false;
    // What a local line could not do, the server's cannot either.
    termios scratch{};
    if (!CTermiosDevice::DcbToTermios(dcb, scratch)) {
        errno = EINVAL;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_dcb = dcb;
        m_dcb.DCBlength = 28;
        m_dcb.fBinary = true;
    }
    return ApplyLineState(dcb);
}

ssize_t CNetDevice::Read(unsigned char* buf, std::size_t size) {
    if (!OpenCheck()) return -1;
    if (size == 0) return 0;
    const ssize_t n = ::read(m_pipeRead, buf, size);
    if (n == 0) {
        // The pipe ends where the connection did.
        const int gone = m_gone;
        errno = gone ? gone : ECONNRESET;
        return -1;
    }
    return n;
}

ssize_t CNetDevice::Write(const unsigned char* buf, std::size_t size) {
    if (!OpenCheck()) return -1;
    if (const int gone = m_gone) {
        errno = gone;
        return -1;
    }
    if (size == 0) return 0;
    const std::size_t take = std::min(size, kWriteChunk);
    {
        // Output left over from before goes first; while it stays, nothing more is taken.
        std::lock_guard<std::mutex> lock(m_outMutex);
        if (!FlushOutLocked()) return -1;
        if (!m_outPending.empty()) {
            errno = EAGAIN;
            return -1;
        }
    }
    if (!SendRaw(Encode(buf, take))) return -1;
    return static_cast<ssize_t>(take);
}

int CNetDevice::Poll(short events, int timeoutMs) {
    if (!OpenCheck()) return -1;
    const long long deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
    for (;;) {
        // Input and its end come from the pipe; room for output from the socket.
        pollfd fds[2] = {{m_pipeRead, static_cast<short>(events & POLLIN), 0},
                         {(events & POLLOUT) ? m_sock.load() : -1, POLLOUT, 0}};
        const int r = ::poll(fds, 2, timeoutMs < 0 ? -1 : WaitMs(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r;
        int seen = fds[0].revents & (POLLIN | POLLHUP | POLLERR);
        seen |= fds[1].revents & (POLLOUT | POLLHUP | POLLERR);
        if (seen) return seen;
        if (timeoutMs >= 0 && WaitMs(deadline) == 0) return 0;
    }
}

int CNetDevice::PollFd() const { return m_pipeRead; }

bool CNetDevice::Drain(unsigned stallMs) {
    if (!OpenCheck()) return false;
    // First what the socket has not taken yet, then what it has not sent:
    // either may stall when the server stops reading.
    long long movedAt = NowMs();
    std::size_t lastPending = SIZE_MAX;
    int lastQueued = -1;
    for (;;) {
        if (const int gone = m_gone) {
            errno = gone;
            return false;
        }
        std::size_t pending;
        {
            std::lock_guard<std::mutex> lock(m_outMutex);
            if (!FlushOutLocked()) return false;
            pending = m_outPending.size();
        }
        int queued = 0;
        if (::ioctl(m_sock, SIOCOUTQ, &queued) < 0) return false;
        if (pending == 0 && queued <= 0) return true;
        const long long now = NowMs();
        if (pending < lastPending || (pending == 0 && (lastQueued < 0 || queued < lastQueued))) {
            movedAt = now;
        } else if (now - movedAt >= static_cast<long long>(stallMs)) {
            errno = ETIMEDOUT;
            return false;
        }
        lastPending = pending;
        lastQueued = queued;
        SleepMs(5);
    }
}

bool CNetDevice::Purge(bool input, bool output) {
    if (!OpenCheck()) return false;
    if (input) {
        std::lock_guard<std::mutex> lock(m_inMutex);
        m_inPending.clear();
        unsigned char buf[4096];
        while (::read(m_pipeRead, buf, sizeof buf) > 0) {
        }
    }
    if (!input && !output) return true;
    return PurgeFar(input, output);
}

bool CNetDevice::QueuedInput(unsigned& count) {
    if (!OpenCheck()) return false;
    int n = 0;
    if (::ioctl(m_pipeRead, FIONREAD, &n) < 0) return false;
    count = n > 0 ? static_cast<unsigned>(n) : 0;
    return true;
}

bool CNetDevice::GetErrorCounts(TErrorCounts& counts) {
    if (!OpenCheck()) return false;
    counts = TErrorCounts{};
    return true;
}

CTcpDevice::~CTcpDevice() { Close(); }

bool CTcpDevice::SetBreak(bool) {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    return true;
}

std::string CTcpDevice::OpenNotice() const {
    const std::string name = "tcp://" + (Name().host.find(':') != std::string::npos ? "[" + Name().host + "]" : Name().host) +
                             ":" + Name().port;
    return FormatString(GetString(IDS_NET_RAW_NOTICE).c_str(), name.c_str());
}

void CTcpDevice::Received(const unsigned char* bytes, std::size_t size, std::string& data) {
    data.append(reinterpret_cast<const char*>(bytes), size);
}

std::string CTcpDevice::Encode(const unsigned char* buf, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(buf), size);
}
