#include "FakeSerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <set>

#include "TermiosDevice.h"

namespace {

DCB DriverDefault() {
    DCB dcb{};
    dcb.DCBlength = 28;
    dcb.fBinary = true;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    return dcb;
}

bool Fail(int err) {
    errno = err;
    return false;
}

// Paths held open by some fake: a second opener is refused, as by a tty.
std::mutex g_pathsMutex;
std::set<std::string> g_openPaths;

bool TakePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    return g_openPaths.insert(path).second;
}

void ReleasePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    g_openPaths.erase(path);
}

}  // namespace

CFakeSerialDevice::CFakeSerialDevice() : m_dcb(DriverDefault()) {}

CFakeSerialDevice::~CFakeSerialDevice() {
    Close();
    if (m_peerFd >= 0) ::close(m_peerFd);
}

bool CFakeSerialDevice::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_path = path;
    if (m_openError) return Fail(m_openError);
    if (m_fd >= 0 || !TakePath(path)) return Fail(EBUSY);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) < 0) {
        const int err = errno;
        ReleasePath(path);
        return Fail(err);
    }
    ::fcntl(pair[0], F_SETFL, O_NONBLOCK);
    ::fcntl(pair[1], F_SETFL, O_NONBLOCK);
    if (m_sendBuffer > 0) {
        ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &m_sendBuffer, sizeof m_sendBuffer);
        ::setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &m_sendBuffer, sizeof m_sendBuffer);
    }
    if (m_peerFd >= 0) ::close(m_peerFd);
    m_fd = pair[0];
    m_peerFd = pair[1];
    m_openPath = path;
    m_dcb = DriverDefault();
    ++m_opens;
    return true;
}

void CFakeSerialDevice::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return;
    ::close(m_fd);
    m_fd = -1;
    ReleasePath(m_openPath);
    m_closedCv.notify_all();
}

bool CFakeSerialDevice::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fd >= 0;
}

bool CFakeSerialDevice::GetLineState(DCB& dcb) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return Fail(EBADF);
    if (m_getError) return Fail(m_getError);
    dcb = m_dcb;
    return true;
}

bool CFakeSerialDevice::SetLineState(const DCB& dcb) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_sets;
    if (m_fd < 0) return Fail(EBADF);
    if (m_setError) return Fail(m_setError);
    // Refuse exactly what the termios device refuses.
    termios tio{};
    if (!CTermiosDevice::DcbToTermios(dcb, tio)) return Fail(EINVAL);
    m_dcb = dcb;
    m_dcb.DCBlength = 28;
    return true;
}

ssize_t CFakeSerialDevice::Read(unsigned char* buf, std::size_t size) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_fd;
    }
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return ::recv(fd, buf, size, MSG_DONTWAIT);
}

ssize_t CFakeSerialDevice::Write(const unsigned char* buf, std::size_t size) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_fd;
    }
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    ssize_t n = ::send(fd, buf, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EPIPE) errno = EIO;  // as a hung-up tty says it
    return n;
}

int CFakeSerialDevice::Poll(short events, int timeoutMs) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_fd;
    }
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, timeoutMs);
    return r <= 0 ? r : p.revents;
}

int CFakeSerialDevice::PollFd() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fd;
}

bool CFakeSerialDevice::Drain(unsigned) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_drains;
    if (m_fd < 0) return Fail(EBADF);
    if (m_drainError) return Fail(m_drainError);
    return true;
}

bool CFakeSerialDevice::Purge(bool input, bool output) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return Fail(EBADF);
    ++m_purges;
    m_purgeInput = input;
    m_purgeOutput = output;
    if (input) {
        unsigned char sink[4096];
        while (::recv(m_fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
    }
    return true;
}

bool CFakeSerialDevice::SetBreak(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return Fail(EBADF);
    m_breaks.push_back(on);
    return true;
}

bool CFakeSerialDevice::QueuedInput(unsigned& count) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_fd;
    }
    if (fd < 0) return Fail(EBADF);
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) < 0) return false;
    count = n > 0 ? static_cast<unsigned>(n) : 0;
    return true;
}

bool CFakeSerialDevice::GetErrorCounts(TErrorCounts& counts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return Fail(EBADF);
    counts = m_counts;
    return true;
}

void CFakeSerialDevice::SetOpenError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openError = err;
}

void CFakeSerialDevice::SetLineStateError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_setError = err;
}

void CFakeSerialDevice::SetGetStateError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_getError = err;
}

void CFakeSerialDevice::SetDrainError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_drainError = err;
}

void CFakeSerialDevice::SetErrorCounts(const TErrorCounts& counts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts = counts;
}

void CFakeSerialDevice::SetSendBuffer(int bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sendBuffer = bytes;
}

bool CFakeSerialDevice::PeerWrite(const std::string& bytes) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_peerFd;
    }
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string CFakeSerialDevice::PeerReadAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out;
    if (m_peerFd < 0) return out;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(m_peerFd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, static_cast<std::size_t>(n));
    return out;
}

void CFakeSerialDevice::HangUp() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_peerFd >= 0) ::close(m_peerFd);
    m_peerFd = -1;
}

std::string CFakeSerialDevice::LastPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

DCB CFakeSerialDevice::LineState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dcb;
}

std::vector<bool> CFakeSerialDevice::BreakCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_breaks;
}

int CFakeSerialDevice::DrainCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_drains;
}

int CFakeSerialDevice::PurgeCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_purges;
}

bool CFakeSerialDevice::LastPurgeInput() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_purgeInput;
}

bool CFakeSerialDevice::LastPurgeOutput() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_purgeOutput;
}

int CFakeSerialDevice::SetLineStateCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sets;
}

int CFakeSerialDevice::OpenCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opens;
}

bool CFakeSerialDevice::WaitClosed(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_closedCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_fd < 0; });
}
