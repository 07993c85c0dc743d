// The port's byte I/O: Read with the stored time-outs, Write with its own,
// drain and purge, break; why each failed, in the user's terms; and the line
// trace's notes of a network link's round trip.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "CommPort.h"
#include "DcbLine.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "Waits.h"
#include "StringTable.h"
#include "TextUtil.h"
#include "Win32Err.h"

namespace {

// A break cleared at once may never reach the line (Linux drivers toggle the
// bit within microseconds). Two characters long, the receiver sees a framing
// error whatever byte it was in; at least 10 ms, so that on a fast line it is
// not lost in the latency of the driver or the USB adapter.
constexpr unsigned kBreakCharacters = 2;
constexpr unsigned kShortestBreakMs = 10;
// A line whose settings cannot be read: held as long as it always was,
// two characters of the most bits down to 300 baud.
constexpr unsigned kBreakHoldUnknownMs = 100;

// A change of the round trip the trace notes: more than both of these.
constexpr unsigned kTraceChangePercent = 20;
constexpr unsigned kTraceChangeMs = 10;

// What GetLastFailure says beyond the system's texts.
constexpr char kNotOpen[] = "the port is not open";
constexpr char kGone[] = "the device is gone (unplugged, or the connection was closed)";
constexpr char kNoOutput[] = "the port took no output for %u ms";
constexpr char kNoInput[] = "nothing came in on the port for %u ms";

// Codes that mean the device or the connection is no more.
bool MeansGone(int code) {
    switch (code) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case EPIPE:
    case ESHUTDOWN:
        return true;
    default:
        return false;
    }
}

// A failure's code as the user reads it.
std::string Reason(int code) {
    if (code == EBADF) return kNotOpen;
    if (MeansGone(code)) return kGone;
    return code ? std::strerror(code) : std::strerror(EIO);
}

}  // namespace

unsigned CCommPort::ProfileMs(const char* key) { return static_cast<unsigned>(GetProfileDelayMs(key, 1000)); }

void CCommPort::FailIo(const CWin32Err* err, const std::string& reason) {
    m_lastFailure = reason.empty() && err ? Reason(err->GetCode()) : reason;
    m_deviceGone = m_lastFailure == kGone;
    if (err) Report(*err);
}

void CCommPort::TraceRoundTrip() {
    if (!m_trace || !m_device || !m_device->IsNetworkLink()) return;
    const unsigned now = m_device->RoundTripMs();
    if (m_tracedRoundTripMs >= 0) {
        const unsigned last = static_cast<unsigned>(m_tracedRoundTripMs);
        const unsigned change = now > last ? now - last : last - now;
        if (change <= kTraceChangeMs || change * 100 <= last * kTraceChangePercent) return;
    }
    m_tracedRoundTripMs = now;
    m_trace->RoundTrip(Name(), now);
}

bool CCommPort::Read(unsigned char* buf, unsigned& count) {
    const unsigned capacity = buf ? count : 0;
    count = 0;
    if (!m_device) {
        CWin32Err err("ReadFile", EBADF);
        FailIo(&err);
        return false;
    }
    unsigned got = 0;
    bool ok = ReadWithTimeouts(buf, capacity, got);
    count = got;
    if (ok) {
        m_lastFailure.clear();
        m_deviceGone = false;
    }
    TraceRoundTrip();
    return ok;
}

bool CCommPort::WaitForInput(unsigned ms) {
    if (!m_device) return false;
    const long long end = NowMs() + ms;
    for (;;) {
        const TDeviceEvents seen = m_device->Wait(TDeviceEvents::Input, static_cast<int>(std::max(0LL, end - NowMs())));
        if (HasAny(seen, TDeviceEvents::Input | TDeviceEvents::HungUp)) return true;
        // An interrupt meant for the reader thread is no answer here.
        if (!HasAny(seen, TDeviceEvents::Interrupted) || NowMs() >= end) return false;
    }
}

// Read with the semantics of the stored read time-outs. Everything is copied
// straight into the caller's buffer by non-blocking reads, so nothing can
// arrive there after we return.
bool CCommPort::ReadWithTimeouts(unsigned char* buf, unsigned capacity, unsigned& got) {
    const COMMTIMEOUTS t = m_timeouts;
    int err = 0;
    // Takes what is queued; false on a read failure (err set).
    auto takeQueued = [&]() {
        while (got < capacity) {
            ssize_t n = m_device->Read(buf + got, capacity - got);
            if (n > 0) {
                if (m_trace) m_trace->Received(buf + got, static_cast<std::size_t>(n));
                got += static_cast<unsigned>(n);
                continue;
            }
            if (n == 0) return true;
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            err = errno;
            return false;
        }
        return true;
    };
    if (!takeQueued()) {
        const CWin32Err failure("ReadFile", err);
        FailIo(&failure);
        return false;
    }
    const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                           t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    if (got == capacity || immediate || (firstByte && got > 0)) {
        NotifyStatus(1, static_cast<int>(got));
        return true;
    }

    // The read pends: it completes by its own time-outs, or gives up after
    // "ReadTimeOut".
    const long long start = NowMs();
    const unsigned pendMs = ProfileMs(ProfileKeys::READ_TIME_OUT);
    const long long pendEnd = start + pendMs;
    long long totalEnd = -1;
    if (firstByte) {
        totalEnd = start + t.ReadTotalTimeoutConstant;
    } else {
        unsigned long long total = static_cast<unsigned long long>(t.ReadTotalTimeoutMultiplier) * capacity +
                                   t.ReadTotalTimeoutConstant;
        if (total) totalEnd = start + static_cast<long long>(std::min<unsigned long long>(total, 1ull << 40));
    }
    const long long interval = t.ReadIntervalTimeout == MAXDWORD ? 0 : t.ReadIntervalTimeout;
    long long lastByteAt = got ? start : -1;
    for (;;) {
        const long long now = NowMs();
        if (totalEnd >= 0 && now >= totalEnd) break;
        if (interval && lastByteAt >= 0 && now - lastByteAt >= interval) break;
        if (now >= pendEnd) {
            NotifyStatus(4, 0);
            FailIo(nullptr, FormatString(kNoInput, pendMs));
            return false;
        }
        long long wake = pendEnd;
        if (totalEnd >= 0) wake = std::min(wake, totalEnd);
        if (interval && lastByteAt >= 0) wake = std::min(wake, lastByteAt + interval);
        const TDeviceEvents seen = m_device->Wait(TDeviceEvents::Input, static_cast<int>(std::max(0LL, wake - now)));
        if (HasAny(seen, TDeviceEvents::Failed)) {
            const CWin32Err failure("WaitForSingleObject");
            FailIo(&failure);
            return false;
        }
        if (!HasAny(seen, TDeviceEvents::Input | TDeviceEvents::HungUp)) continue;
        const unsigned before = got;
        if (!takeQueued()) {
            const CWin32Err failure("GetOverlappedResult", err);
            FailIo(&failure);
            return false;
        }
        if (got > before) lastByteAt = NowMs();
        if (got == capacity || (firstByte && got > 0)) break;
        if (got == before && HasAny(seen, TDeviceEvents::HungUp)) {
            // The device is gone; waiting longer would only spin.
            const CWin32Err failure("ReadFile", EIO);
            FailIo(&failure, kGone);
            return false;
        }
    }
    NotifyStatus(1, static_cast<int>(got));
    return true;
}

bool CCommPort::Write(const unsigned char* buf, unsigned count) {
    if (!m_device) {
        const CWin32Err failure("GetLastError()", EBADF);
        FailIo(&failure);
        return false;
    }
    if (!buf) count = 0;
    unsigned done = 0;
    long long pendEnd = -1;
    unsigned pendMs = 0;
    auto timedOut = [&] {
        NotifyStatus(4, 0);
        FailIo(nullptr, FormatString(kNoOutput, pendMs));
        return false;
    };
    while (done < count) {
        ssize_t n = m_device->Write(buf + done, count - done);
        if (n > 0) {
            if (m_trace) m_trace->Sent(buf + done, static_cast<std::size_t>(n));
            done += static_cast<unsigned>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const CWin32Err failure("GetLastError()");
            FailIo(&failure);
            return false;
        }
        // The line takes no more for now: wait until it does, at most
        // "WriteTimeOut" for the whole block. What was not taken is dropped.
        if (pendEnd < 0) {
            pendMs = ProfileMs(ProfileKeys::WRITE_TIME_OUT);
            pendEnd = NowMs() + pendMs;
        }
        const long long left = pendEnd - NowMs();
        if (left <= 0) return timedOut();
        const TDeviceEvents seen = m_device->Wait(TDeviceEvents::Output, static_cast<int>(left));
        if (HasAny(seen, TDeviceEvents::Failed)) {
            const CWin32Err failure("WaitForSingleObject");
            FailIo(&failure);
            return false;
        }
        if (HasAny(seen, TDeviceEvents::TimedOut)) return timedOut();
        // After a hang-up the next write fails and tells why; after an
        // interrupt meant for the reader thread it is tried again.
    }
    m_lastFailure.clear();
    m_deviceGone = false;
    TraceRoundTrip();
    NotifyStatus(2, static_cast<int>(done));
    return true;
}

bool CCommPort::FlushWrites(int flags) {
    if (!m_device) {
        FailIo(nullptr, kNotOpen);
        return false;
    }
    if (flags & DRAIN_OUTPUT) {
        const unsigned stallMs = ProfileMs(ProfileKeys::WRITE_TIME_OUT);
        if (!m_device->Drain(stallMs)) {
            const CWin32Err failure("FlushWrites()");
            // Our own stall, not the network's: the system's text would say "Connection timed out".
            FailIo(&failure, failure.GetCode() == ETIMEDOUT ? FormatString(kNoOutput, stallMs) : std::string());
            return false;
        }
    }
    if (m_device->Purge((flags & PURGE_INPUT) != 0, (flags & DRAIN_OUTPUT) != 0)) return true;
    // Said to whoever asks why, without a box, as it always was.
    FailIo(nullptr, Reason(errno));
    return false;
}

unsigned CCommPort::BreakHoldMs(const DCB& line) {
    if (line.BaudRate == 0) return kBreakHoldUnknownMs;
    // A character in half bits, for one and a half stop bits.
    const unsigned dataBits = line.ByteSize >= 5 && line.ByteSize <= 8 ? line.ByteSize : 8;
    const unsigned stopHalves = line.StopBits == TWOSTOPBITS ? 4 : line.StopBits == ONE5STOPBITS ? 3 : 2;
    const unsigned long long halves = 2ull * (1 + dataBits + (line.Parity != NOPARITY ? 1 : 0)) + stopHalves;
    // Milliseconds, rounded up.
    const unsigned long long ms = (kBreakCharacters * halves * 500 + line.BaudRate - 1) / line.BaudRate;
    return static_cast<unsigned>(std::max<unsigned long long>(ms, kShortestBreakMs));
}

bool CCommPort::SendBreak() {
    if (!m_device) {
        FailIo(nullptr, kNotOpen);
        return false;
    }
    TLineSettings line;
    const unsigned holdMs = m_device->GetLineState(line) ? BreakHoldMs(ToDcb(line)) : kBreakHoldUnknownMs;
    if (!m_device->SetBreak(true)) {
        const CWin32Err failure("SetCommBreak");
        FailIo(&failure);
        return false;
    }
    if (m_trace) m_trace->Break();
    SleepMs(holdMs);
    if (m_device->SetBreak(false)) return true;
    const CWin32Err failure("ClearCommBreak");
    FailIo(&failure);
    return false;
}
