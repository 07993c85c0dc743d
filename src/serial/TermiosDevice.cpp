#include "TermiosDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "Waits.h"
#include "TermiosLine.h"
#include "TextUtil.h"

namespace {

// Ioctls a driver may simply not have.
bool NotSupported(int err) { return err == ENOTTY || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP; }

}  // namespace

CTermiosDevice::~CTermiosDevice() { Close(); }

bool CTermiosDevice::Open(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    auto fail = [fd](int err) {
        ::close(fd);
        errno = err;
        return false;
    };
    // The lock first: TIOCEXCL alone leaves a window between two openers and
    // does not stop root at all.
    if (::flock(fd, LOCK_EX | LOCK_NB) < 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (!::isatty(fd)) return fail(ENOTTY);
    if (::ioctl(fd, TIOCEXCL) < 0 && !NotSupported(errno)) return fail(errno);
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) return fail(errno);
    m_saved = tio;
    m_haveSaved = true;
    // Always raw: no echo, no line editing, no CR/LF translation, reads never wait.
    MakeRawLine(tio);
    if (::tcsetattr(fd, TCSANOW, &tio) < 0) {
        int err = errno;
        ::ioctl(fd, TIOCNXCL);
        m_haveSaved = false;
        return fail(err);
    }
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0) {
        m_dtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        m_rtsControl = (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    }
    m_dsrFlow = false;
    m_fd = fd;
    return true;
}

void CTermiosDevice::Close() {
    int fd = m_fd.exchange(-1);
    if (fd < 0) return;
    int saved = errno;
    // Nothing may be left queued: close() would wait for it up to the
    // driver's closing time (30 s by default) on a stalled line.
    ::tcflush(fd, TCIOFLUSH);
    if (m_haveSaved) ::tcsetattr(fd, TCSANOW, &m_saved);
    m_haveSaved = false;
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    errno = saved;
}

bool CTermiosDevice::IsOpen() const { return m_fd >= 0; }

bool CTermiosDevice::OpenFd(int& fd) const {
    fd = m_fd;
    if (fd >= 0) return true;
    errno = EBADF;
    return false;
}

bool CTermiosDevice::DcbToTermios(const DCB& dcb, termios& tio) {
    speed_t speed;
    if (!RateToSpeed(dcb.BaudRate, speed)) return false;
    tcflag_t size;
    switch (dcb.ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
    }
    // One and a half stop bits exist only with 5 data bits, two only with more.
    if (dcb.StopBits > TWOSTOPBITS) return false;
    if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) return false;
    if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) return false;
    if (dcb.Parity > SPACEPARITY) return false;
    if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE || dcb.fRtsControl > RTS_CONTROL_TOGGLE) return false;

    MakeRawLine(tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= size;
    switch (dcb.Parity) {
    case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: tio.c_cflag |= PARENB; break;
    case MARKPARITY: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.StopBits != ONESTOPBIT) tio.c_cflag |= CSTOPB;
    if (dcb.fParity) tio.c_iflag |= INPCK;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;
    if (dcb.fOutX) tio.c_iflag |= IXON;
    if (dcb.fInX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return true;
}

void CTermiosDevice::TermiosToDcb(const termios& tio, DCB& dcb) {
    dcb.DCBlength = 28;
    dcb.fBinary = true;
    dcb.BaudRate = SpeedToRate(::cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (tio.c_cflag & CMSPAR)
        dcb.Parity = (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(tio.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = (dcb.ByteSize == 5) ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fParity = (tio.c_iflag & INPCK) != 0;
    dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    dcb.fOutX = (tio.c_iflag & IXON) != 0;
    dcb.fInX = (tio.c_iflag & IXOFF) != 0;
    dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
}

bool CTermiosDevice::GetLineState(DCB& dcb) {
    int fd;
    if (!OpenFd(fd)) return false;
    std::lock_guard<std::mutex> lock(m_lineMutex);
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) return false;
    TermiosToDcb(tio, dcb);
    dcb.fDtrControl = m_dtrControl;
    dcb.fRtsControl = (tio.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE : m_rtsControl;
    dcb.fOutxDsrFlow = m_dsrFlow;
    return true;
}

bool CTermiosDevice::SetLineState(const DCB& dcb) {
    int fd;
    if (!OpenFd(fd)) return false;
    std::lock_guard<std::mutex> lock(m_lineMutex);
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) return false;
    if (!DcbToTermios(dcb, tio)) {
        errno = EINVAL;
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) < 0) return false;
    // Modem lines are best effort: a pseudo-terminal has none.
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    int saved = errno;
    ::ioctl(fd, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
    if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
        ::ioctl(fd, dcb.fRtsControl == RTS_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &rts);
    errno = saved;
    m_dtrControl = dcb.fDtrControl;
    m_rtsControl = dcb.fRtsControl;
    m_dsrFlow = dcb.fOutxDsrFlow;
    return true;
}

ssize_t CTermiosDevice::Read(unsigned char* buf, std::size_t size) {
    int fd;
    if (!OpenFd(fd)) return -1;
    return ::read(fd, buf, size);
}

ssize_t CTermiosDevice::Write(const unsigned char* buf, std::size_t size) {
    int fd;
    if (!OpenFd(fd)) return -1;
    return ::write(fd, buf, size);
}

int CTermiosDevice::Poll(short events, int timeoutMs) {
    int fd;
    if (!OpenFd(fd)) return -1;
    long long deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
    for (;;) {
        pollfd p{fd, events, 0};
        int wait = timeoutMs;
        if (timeoutMs >= 0) {
            long long left = deadline - NowMs();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        int r = ::poll(&p, 1, wait);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r;
        return p.revents;
    }
}

int CTermiosDevice::PollFd() const { return m_fd; }

bool CTermiosDevice::Drain(unsigned stallMs) {
    int fd;
    if (!OpenFd(fd)) return false;
    // tcdrain alone can wait for ever on a line held by flow control; watch
    // the output queue instead and give up only when it stops moving.
    int last = -1;
    long long movedAt = NowMs();
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) < 0) {
            if (!NotSupported(errno)) return false;
            break;
        }
        if (queued <= 0) break;
        long long now = NowMs();
        if (last < 0 || queued < last) {
            last = queued;
            movedAt = now;
        } else if (now - movedAt >= static_cast<long long>(stallMs)) {
            errno = ETIMEDOUT;
            return false;
        }
        SleepMs(5);
    }
    // What is left sits in the transmitter itself; the driver bounds that wait.
    while (::tcdrain(fd) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool CTermiosDevice::Purge(bool input, bool output) {
    int fd;
    if (!OpenFd(fd)) return false;
    if (!input && !output) return true;
    return ::tcflush(fd, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH) == 0;
}

bool CTermiosDevice::SetBreak(bool on) {
    int fd;
    if (!OpenFd(fd)) return false;
    return ::ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0;
}

bool CTermiosDevice::QueuedInput(unsigned& count) {
    int fd;
    if (!OpenFd(fd)) return false;
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) < 0) return false;
    count = n > 0 ? static_cast<unsigned>(n) : 0;
    return true;
}

bool CTermiosDevice::GetErrorCounts(TErrorCounts& counts) {
    int fd;
    if (!OpenFd(fd)) return false;
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) < 0) {
        if (!NotSupported(errno)) return false;
        counts = TErrorCounts{};
        return true;
    }
    counts.frame = static_cast<std::uint32_t>(ic.frame);
    counts.overrun = static_cast<std::uint32_t>(ic.overrun);
    counts.parity = static_cast<std::uint32_t>(ic.parity);
    counts.brk = static_cast<std::uint32_t>(ic.brk);
    counts.bufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
    return true;
}
