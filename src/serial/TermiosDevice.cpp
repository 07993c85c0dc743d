#include "TermiosDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
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
    if (m_interrupt.Fd() < 0) {
        errno = EMFILE;
        return false;
    }
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
        m_dtr = (lines & TIOCM_DTR) ? TDtrMode::On : TDtrMode::Off;
        m_rts = (lines & TIOCM_RTS) ? TRtsMode::On : TRtsMode::Off;
    }
    m_dsrFlow = false;
    m_interrupt.Clear();  // one raised for an earlier open is no business of this one
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

bool CTermiosDevice::LineToTermios(const TLineSettings& line, termios& tio) {
    speed_t speed;
    if (!RateToSpeed(line.rate, speed) || !LineSettingsPossible(line)) return false;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

    MakeRawLine(tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= kSizes[line.dataBits - 5];
    switch (line.parity) {
    case TParity::Odd: tio.c_cflag |= PARENB | PARODD; break;
    case TParity::Even: tio.c_cflag |= PARENB; break;
    case TParity::Mark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TParity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (line.stopBits != TStopBits::One) tio.c_cflag |= CSTOPB;
    if (line.parityCheck) tio.c_iflag |= INPCK;
    if (line.ctsOutFlow || line.rts == TRtsMode::Handshake) tio.c_cflag |= CRTSCTS;
    if (line.xonOut) tio.c_iflag |= IXON;
    if (line.xonIn) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(line.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(line.xoffChar);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return true;
}

void CTermiosDevice::TermiosToLine(const termios& tio, TLineSettings& line) {
    line.rate = SpeedToRate(::cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        line.parity = TParity::None;
    else if (tio.c_cflag & CMSPAR)
        line.parity = (tio.c_cflag & PARODD) ? TParity::Mark : TParity::Space;
    else
        line.parity = (tio.c_cflag & PARODD) ? TParity::Odd : TParity::Even;
    if (!(tio.c_cflag & CSTOPB))
        line.stopBits = TStopBits::One;
    else
        line.stopBits = (line.dataBits == 5) ? TStopBits::OneAndHalf : TStopBits::Two;
    line.parityCheck = (tio.c_iflag & INPCK) != 0;
    line.ctsOutFlow = (tio.c_cflag & CRTSCTS) != 0;
    line.xonOut = (tio.c_iflag & IXON) != 0;
    line.xonIn = (tio.c_iflag & IXOFF) != 0;
    line.xonChar = static_cast<char>(tio.c_cc[VSTART]);
    line.xoffChar = static_cast<char>(tio.c_cc[VSTOP]);
}

bool CTermiosDevice::GetLineState(TLineSettings& line) {
    int fd;
    if (!OpenFd(fd)) return false;
    std::lock_guard<std::mutex> lock(m_lineMutex);
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) return false;
    line = TLineSettings{};
    TermiosToLine(tio, line);
    line.dtr = m_dtr;
    line.rts = (tio.c_cflag & CRTSCTS) ? TRtsMode::Handshake : m_rts;
    line.dsrOutFlow = m_dsrFlow;
    return true;
}

bool CTermiosDevice::SetLineState(const TLineSettings& line) {
    int fd;
    if (!OpenFd(fd)) return false;
    std::lock_guard<std::mutex> lock(m_lineMutex);
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) return false;
    if (!LineToTermios(line, tio)) {
        errno = EINVAL;
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) < 0) return false;
    // Modem lines are best effort: a pseudo-terminal has none.
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    int saved = errno;
    ::ioctl(fd, line.dtr == TDtrMode::Off ? TIOCMBIC : TIOCMBIS, &dtr);
    if (line.rts != TRtsMode::Handshake) ::ioctl(fd, line.rts == TRtsMode::Off ? TIOCMBIC : TIOCMBIS, &rts);
    errno = saved;
    m_dtr = line.dtr;
    m_rts = line.rts;
    m_dsrFlow = line.dsrOutFlow;
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

TDeviceEvents CTermiosDevice::Wait(TDeviceEvents wanted, int timeoutMs) {
    int fd;
    if (!OpenFd(fd)) return TDeviceEvents::Failed;
    return PollWait(fd, fd, wanted, timeoutMs, m_interrupt);
}

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
