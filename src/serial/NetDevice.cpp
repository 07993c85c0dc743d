#include "NetDevice.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>

#include "Waits.h"
#include "Resource.h"
#include "StringTable.h"
#include "TermiosDevice.h"
#include "TextUtil.h"

namespace {

// A Write takes at most this much at once; the port writes the rest next.
constexpr std::size_t kWriteChunk = 4096;
// Received data waits here while the pipe is full; beyond it the socket is
// left unread, and the server's own flow control holds the rest.
constexpr std::size_t kInPendingLimit = 64 * 1024;
// Sent but not yet acknowledged, this much counts as gone (see Drain): more
// than the setup's records, far less than a stalled server leaves behind.
constexpr std::size_t kUnackedSlack = 4096;
// A server that closes within its round trip and this of the connection
// turned it away; waited for at most the longest.
constexpr unsigned kTurnedAwayWaitMs = 25;
constexpr unsigned kTurnedAwayLongestMs = 500;
// Turned away, it is asked again after a pause, for this long at most.
constexpr unsigned kTurnedAwayPauseMs = 200;
constexpr long long kTurnedAwayRetryMs = 3000;
// At close, how long the server is given to close its end after ours.
constexpr unsigned kServerLetGoMs = 1000;

// The ports this program holds open, by their name as "scheme://host:port"
// in lower case: a second opener is refused as with a tty.
std::mutex g_claimMutex;
std::set<std::string> g_claimed;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

CNetDevice::~CNetDevice() { Close(); }

bool CNetDevice::Open(const std::string& path) { return OpenOn(path, -1); }

bool CNetDevice::OpenConnected(int sock, const std::string& path) { return OpenOn(path, sock); }

bool CNetDevice::OpenOn(const std::string& path, int sock) {
    Close();
    m_openFailureNote.clear();
    if (m_interrupt.Fd() < 0) {
        CloseFd(sock);
        errno = EMFILE;
        return false;
    }
    TNetPortName name;
    if (!ParseNetworkPortName(path, name)) {
        CloseFd(sock);
        errno = EINVAL;
        return false;
    }
    const std::string claim = NetPortKey(name);
    {
        std::lock_guard<std::mutex> lock(g_claimMutex);
        if (!g_claimed.insert(claim).second) {
            CloseFd(sock);
            errno = EBUSY;
            return false;
        }
    }
    m_claim = claim;
    m_name = name;
    m_interrupt.Clear();  // one raised for an earlier open is no business of this one
    // A terminal server still serving the previous client (this program's
    // last command, whose close has not reached it yet over a slow link)
    // turns a new one away: it is asked again for a while.
    const long long until = NowMs() + kTurnedAwayRetryMs;
    for (;;) {
        bool turnedAway = false;
        if (ConnectOnce(sock, turnedAway)) return true;
        const int err = errno;
        if (!turnedAway || sock >= 0 || NowMs() + kTurnedAwayPauseMs >= until) {
            Release();
            errno = err;
            return false;
        }
        Release(false);
        SleepPlainMs(kTurnedAwayPauseMs);
    }
}

bool CNetDevice::ConnectOnce(int sock, bool& turnedAway) {
    ResetRoundTrip();
    if (sock >= 0) {
        m_sock = sock;
    } else if (!Connect(m_name, NowMs() + m_connectMs)) {
        return false;
    }
    // A protocol that negotiates measures its own in Handshake.
    SetOpeningRoundTrip(KernelRoundTripUs(m_sock));

    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) < 0) return false;
    m_pipeRead = fds[0];
    m_pipeWrite = fds[1];
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) return false;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_line = TLineSettings{};
        m_line.rate = 9600;
    }
    m_gone = 0;
    m_stop = false;
    try {
        m_io = std::thread([this] { IoLoop(); });
    } catch (const std::system_error& e) {
        errno = e.code().value();
        return false;
    }
    const bool shook = Handshake(NowMs() + m_answerMs);
    const int err = errno ? errno : EPROTO;
    // A turn-away comes within the round trip after the connection; a
    // server that negotiated has taken us on, and one that closed instead
    // failed the handshake.
    const bool waitForIt = shook && !HandshakeAccepts();
    turnedAway = TurnedAway(waitForIt ? static_cast<int>(std::min(RoundTripMs() + kTurnedAwayWaitMs, kTurnedAwayLongestMs)) : 0);
    if (turnedAway) {
        errno = ECONNREFUSED;
        return false;
    }
    errno = err;
    return shook;
}

bool CNetDevice::TurnedAway(int ms) {
    {
        std::unique_lock<std::mutex> lock(m_stateMutex);
        m_stateChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_gone != 0; });
    }
    if (m_gone == 0) return false;
    // What the server said before it closed: the I/O thread passes it on and
    // then closes its end of the pipe.
    if (m_io.joinable()) m_io.join();
    std::string said;
    char buf[256];
    for (ssize_t n; said.size() < 200 && (n = ::read(m_pipeRead, buf, sizeof buf)) > 0;)
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] >= 0x20 && buf[i] < 0x7F) said += buf[i];
            else if (!said.empty() && said.back() != ' ') said += ' ';
    while (!said.empty() && said.back() == ' ') said.pop_back();
    m_openFailureNote = said.empty() ? GetString(IDS_NET_TURNED_AWAY_SILENT)
                                     : FormatString(GetString(IDS_NET_TURNED_AWAY).c_str(), said.c_str());
    return true;
}

bool CNetDevice::Connect(const TNetPortName& name, long long deadline) {
    m_sock = ConnectTcp(name, deadline);
    return m_sock >= 0;
}

void CNetDevice::Release(bool unclaim) {
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
    if (unclaim && !m_claim.empty()) {
        std::lock_guard<std::mutex> lock(g_claimMutex);
        g_claimed.erase(m_claim);
        m_claim.clear();
    }
}

void CNetDevice::Close() {
    if (m_sock < 0 && m_claim.empty()) return;
    const int saved = errno;
    // The server is let go of the line before this program moves on: it
    // frees the port once our end has reached it, and a next command, this
    // program's own a moment later, would otherwise be turned away.
    if (m_sock >= 0 && m_gone == 0 && m_io.joinable()) {
        bool sent;
        {
            std::lock_guard<std::mutex> lock(m_outMutex);
            sent = FlushOutLocked() && m_outPending.empty();
        }
        if (sent && ::shutdown(m_sock, SHUT_WR) == 0) {
            std::unique_lock<std::mutex> lock(m_stateMutex);
            m_stateChanged.wait_for(lock, std::chrono::milliseconds(kServerLetGoMs), [this] { return m_gone != 0; });
        }
    }
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
                    EndRoundTripSample(data.size());
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

bool CNetDevice::GetLineState(TLineSettings& line) {
    if (!OpenCheck()) return false;
    std::lock_guard<std::mutex> lock(m_stateMutex);
    line = m_line;
    return true;
}

bool CNetDevice::SetLineState(const TLineSettings& line) {
    if (!OpenCheck()) return false;
    // What a local line could not do, the server's cannot either.
    termios scratch{};
    if (!CTermiosDevice::LineToTermios(line, scratch)) {
        errno = EINVAL;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_line = line;
    }
    return ApplyLineState(line);
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
    // Started before the bytes leave, so their answer cannot come before it.
    const long long sample = StartRoundTripSample(take);
    if (!SendRaw(Encode(buf, take))) {
        DropRoundTripSample(sample);
        return -1;
    }
    return static_cast<ssize_t>(take);
}

TDeviceEvents CNetDevice::Wait(TDeviceEvents wanted, int timeoutMs) {
    if (!OpenCheck()) return TDeviceEvents::Failed;
    // Input and its end come from the pipe; room for output from the socket.
    return PollWait(m_pipeRead, m_sock.load(), wanted, timeoutMs, m_interrupt);
}

bool CNetDevice::Drain(unsigned stallMs) {
    if (!OpenCheck()) return false;
    // Output has left once the connection took it: the stream keeps its
    // order, so nothing sent later can overtake it. Waiting for the server to
    // acknowledge a command's few bytes as well would cost a round trip
    // before every command and prove no more; only output piling up unsent
    // is waited for, so a server that stops reading shows as a stall.
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
        if (pending == 0 && queued <= static_cast<int>(kUnackedSlack)) return true;
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
        PurgedRoundTripSample();
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
