#include "CommPort.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <sstream>
#include <utility>

#include "MessageTarget.h"
#include "Messages.h"
#include "ModeString.h"
#include "PortCatalogue.h"
#include "PortReporter.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "Prompts.h"
#include "TextUtil.h"
#include "Trace.h"
#include "Win32Err.h"

namespace {

constexpr char kDefaultMode[] = "baud=9600 parity=n data=8 stop=1";

// A break cleared at once may never reach the line (Linux drivers toggle the
// bit within microseconds); held this long the clock sees it even at 1200
// baud, where it spans more than ten characters.
constexpr unsigned kBreakHoldMs = 100;

// Read afresh for every request, so an edited profile applies at once.
unsigned ProfileMs(const char* key) { return static_cast<unsigned>(GetProfileDelayMs(key, 1000)); }

}  // namespace

unsigned CCommPort::RoundTripMs() const { return m_device ? m_device->RoundTripMs() : 0; }

bool CCommPort::IsNetworkLink() const { return m_device && m_device->IsNetworkLink(); }

void CCommPort::Report(const CWin32Err& err, bool evenWithoutCode) {
    m_lastError = err.GetCode();
    m_lastFailure = std::string(Trim(err.GetMessage()));
    std::string text;
    if ((err.GetText(text) || evenWithoutCode) && m_verbose && m_reporter) m_reporter->ShowError(text);
}

void CCommPort::ReportAndClose(const CWin32Err& err, bool evenWithoutCode) {
    m_lastError = err.GetCode();
    NotifyStatus(-1, 0);
    if (IsOpen()) Close();
    Report(err, evenWithoutCode);
}

bool CCommPort::FailOpen(const CWin32Err& err) {
    m_lastError = err.GetCode();
    std::string text;
    err.GetText(text);
    // The reason and the hint, each line a sentence of its own.
    m_openFailure = m_opening + ":";
    std::string line;
    for (std::size_t i = 0; i <= err.GetMessage().size(); ++i) {
        const char c = i < err.GetMessage().size() ? err.GetMessage()[i] : '\n';
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line.empty()) continue;
        if (line.back() != '.' && line.back() != '?' && line.back() != '!') line += '.';
        m_openFailure += " " + line;
        line.clear();
    }
    if (err.GetMessage().empty()) m_openFailure += " " + err.GetWhat();
    if (m_reporter) {
        // Made only when asked for: it reads the device, which may report too.
        m_reporter->OpenFailed(text, [this, &text] {
            std::ostringstream report;
            DumpState(report, text.c_str());
            return report.str();
        });
    }
    NotifyStatus(-1, 0);
    Close();
    // Shown even without a code: the read-back mismatch has none.
    Report(err, true);
    TRACE("CCommPort::Open(): %s\n", text.c_str());
    return false;
}

bool CCommPort::Open(const std::string& name) {
    Close();
    CPortCatalogue::TTarget target = CPortCatalogue::Resolve(name, m_factory);
    m_opening = target.path == target.portName ? target.portName : target.portName + " (" + target.path + ")";
    errno = ENODEV;
    if (!target.device || !target.device->Open(target.path)) {
        CWin32Err err("CreateFile");
        if (!target.isVirtual) {
            const std::string hint = CPortCatalogue::OpenHint(err.GetCode(), target.path);
            if (!hint.empty()) err.AppendHint(hint);
        }
        return FailOpen(err);
    }
    m_device = std::move(target.device);

    DCB dcb{};
    dcb.DCBlength = 28;
    const std::string mode = GetProfileString(ProfileKeys::COMMUNICATION, ProfileKeys::MODE, kDefaultMode);
    if (!BuildCommDCB(mode.c_str(), dcb)) return FailOpen(CWin32Err("BuildCommDCB", EINVAL));
    if (!m_device->SetLineState(dcb)) return FailOpen(CWin32Err("SetCommState"));
    if (!MatchesDCB(dcb))
        return FailOpen(CWin32Err("GetCommState() returned a different comm state from SetCommState()!", 0));
    // Reads return at once with what is queued. Queue sizes and the event
    // mask have no counterpart on a tty.
    m_timeouts = COMMTIMEOUTS{};
    m_timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!m_device->GetErrorCounts(m_errorBase)) m_errorBase = CSerialDevice::TErrorCounts{};

    // Pauses the profile holds out of range are told now, once, before the
    // first exchange with the clock rather than in the middle of one.
    ProfileMs(ProfileKeys::READ_TIME_OUT);
    ProfileMs(ProfileKeys::WRITE_TIME_OUT);
    GetProfileDelayMs(ProfileKeys::CHAR_DELAY, ProfileKeys::CHAR_DELAY_DEFAULT_MS);

    m_openFailure.clear();
    NotifyStatus(0, 0);
    m_name = target.portName;
    if (m_reporter) {
        m_reporter->PortStateChanged();
        const std::string notice = m_device->OpenNotice();
        if (!notice.empty()) m_reporter->Notice(notice);
    }
    TRACE("CCommPort::Open(): opened %s\n", target.path.c_str());
    return true;
}

bool CCommPort::Close() {
    // A handler dispatched while ReadStop waits may start a reader again; it
    // must not be left polling the device closed below.
    do {
        ReadStop();
    } while (m_reader.Started());
    if (m_device) FlushWrites(3);
    // A reader still running (left by a closing application, or being
    // stopped further up this thread's stack) still polls the device: it
    // closes it when it ends.
    if (!m_reader.HandOver(m_device) && m_device) m_device->Close();
    m_device.reset();
    return true;
}

bool CCommPort::IsOpen() const { return m_device != nullptr; }

void CCommPort::SetNotifyWnd(CMessageTarget* target) { m_notifyWnd = target; }

void CCommPort::NotifyStatus(int code, int value) {
    if (m_notifyWnd)
        m_notifyWnd->Send(WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(code)), value);
}

void CCommPort::ShowStatusText(unsigned id) {
    if (m_notifyWnd) m_notifyWnd->Send(WM_STATUSTEXT, id, 0);
}

bool CCommPort::Read(unsigned char* buf, unsigned& count) {
    const unsigned capacity = buf ? count : 0;
    count = 0;
    if (!m_device) {
        Report(CWin32Err("ReadFile", EBADF));
        return false;
    }
    unsigned got = 0;
    bool ok = ReadWithTimeouts(buf, capacity, got);
    count = got;
    return ok;
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
        Report(CWin32Err("ReadFile", err));
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
    const long long pendEnd = start + ProfileMs(ProfileKeys::READ_TIME_OUT);
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
            return false;
        }
        long long wake = pendEnd;
        if (totalEnd >= 0) wake = std::min(wake, totalEnd);
        if (interval && lastByteAt >= 0) wake = std::min(wake, lastByteAt + interval);
        int r = m_device->Poll(POLLIN, static_cast<int>(std::max(0LL, wake - now)));
        if (r < 0) {
            Report(CWin32Err("WaitForSingleObject"));
            return false;
        }
        if (r == 0) continue;
        const unsigned before = got;
        if (!takeQueued()) {
            Report(CWin32Err("GetOverlappedResult", err));
            return false;
        }
        if (got > before) lastByteAt = NowMs();
        if (got == capacity || (firstByte && got > 0)) break;
        if (got == before && (r & (POLLHUP | POLLERR | POLLNVAL))) {
            // The device is gone; waiting longer would only spin.
            Report(CWin32Err("ReadFile", EIO));
            return false;
        }
    }
    NotifyStatus(1, static_cast<int>(got));
    return true;
}

bool CCommPort::Write(const unsigned char* buf, unsigned count) {
    if (!m_device) {
        Report(CWin32Err("GetLastError()", EBADF));
        return false;
    }
    if (!buf) count = 0;
    unsigned done = 0;
    long long pendEnd = -1;
    while (done < count) {
        ssize_t n = m_device->Write(buf + done, count - done);
        if (n > 0) {
            if (m_trace) m_trace->Sent(buf + done, static_cast<std::size_t>(n));
            done += static_cast<unsigned>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Report(CWin32Err("GetLastError()"));
            return false;
        }
        // The line takes no more for now: wait until it does, at most
        // "WriteTimeOut" for the whole block. What was not taken is dropped.
        if (pendEnd < 0) pendEnd = NowMs() + ProfileMs(ProfileKeys::WRITE_TIME_OUT);
        const long long left = pendEnd - NowMs();
        if (left <= 0) {
            NotifyStatus(4, 0);
            return false;
        }
        int r = m_device->Poll(POLLOUT, static_cast<int>(left));
        if (r < 0) {
            Report(CWin32Err("WaitForSingleObject"));
            return false;
        }
        if (r == 0) {
            NotifyStatus(4, 0);
            return false;
        }
        // On POLLERR or POLLHUP the next write fails and tells why.
    }
    NotifyStatus(2, static_cast<int>(done));
    return true;
}

bool CCommPort::FlushWrites(int flags) {
    if (!m_device) return false;
    if (flags & 2) {
        if (!m_device->Drain(ProfileMs(ProfileKeys::WRITE_TIME_OUT))) {
            Report(CWin32Err("FlushWrites()"));
            return false;
        }
    }
    return m_device->Purge((flags & 1) != 0, (flags & 2) != 0);
}

bool CCommPort::SendBreak() {
    if (!m_device) return false;
    if (!m_device->SetBreak(true)) return false;
    if (m_trace) m_trace->Break();
    SleepMs(kBreakHoldMs);
    return m_device->SetBreak(false);
}

bool CCommPort::Reset() {
    if (!m_device) return false;
    if (!m_device->Purge(true, true)) return false;
    CSerialDevice::TErrorCounts now;
    if (!m_device->GetErrorCounts(now)) return false;
    const CSerialDevice::TErrorCounts base = m_errorBase;
    m_errorBase = now;
    // The counters only grow; any change since the base is a new error. The
    // driver counts no I/O, mode or output-full errors (40003, 40004, 40008).
    if (now.brk != base.brk) ShowStatusText(40001);
    if (now.frame != base.frame) ShowStatusText(40002);
    if (now.overrun != base.overrun) ShowStatusText(40005);
    if (now.bufOverrun != base.bufOverrun) ShowStatusText(40006);
    if (now.parity != base.parity) ShowStatusText(40007);
    return true;
}

bool CCommPort::GetDCB(DCB& dcb) {
    if (!m_device) return false;
    DCB state{};
    if (!m_device->GetLineState(state)) {
        ReportAndClose(CWin32Err("GetCommState"));
        return false;
    }
    state.DCBlength = 28;
    dcb = state;
    return true;
}

bool CCommPort::SetDCB(const DCB& dcb) {
    if (!m_device) return false;
    if (!m_device->SetLineState(dcb)) {
        ReportAndClose(CWin32Err("SetCommState"));
        return false;
    }
    return true;
}

bool CCommPort::MatchesDCB(const DCB& expected) {
    DCB state{};
    state.DCBlength = 28;
    GetDCB(state);
    return state.BaudRate == expected.BaudRate && state.ByteSize == expected.ByteSize &&
           state.Parity == expected.Parity && state.StopBits == expected.StopBits;
}

bool CCommPort::GetTimeouts(COMMTIMEOUTS& timeouts) {
    if (!m_device) return false;
    timeouts = m_timeouts;
    return true;
}

bool CCommPort::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    if (!m_device) return false;
    m_timeouts = timeouts;
    return true;
}

bool CCommPort::SetReadTimeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant) {
    COMMTIMEOUTS t;
    if (!GetTimeouts(t)) return false;
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    return SetTimeouts(t);
}

bool CCommPort::DumpState(std::ostream& out, const char* text) {
    DCB dcb{};  // a closed port shows zeros
    GetDCB(dcb);
    if (text) {
        std::string t(text);
        while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
        out << t << std::endl;
    }
    out << m_name << std::endl;
    out << "Open: " << (IsOpen() ? 1 : 0) << std::endl;
    out << "DCB from    " << std::endl;
    out << "BaudRate    " << dcb.BaudRate << std::endl;
    out << "Parity      " << (dcb.fParity ? 1 : 0) << std::endl;
    out << "Data Length " << static_cast<unsigned>(dcb.ByteSize) << std::endl;
    out << "Stop Length " << static_cast<unsigned>(dcb.StopBits) << std::endl;
    return true;
}

bool CCommPort::ReadUntilQuiet(std::ostream& out, unsigned firstMs, unsigned quietMs) {
    unsigned long long total = 0;
    long long deadline = NowMs() + firstMs;
    for (long long now = NowMs(); now < deadline; now = NowMs()) {
        unsigned char buf[1024];
        unsigned n = sizeof buf;
        if (!Read(buf, n)) break;
        if (n > 0) {
            deadline = NowMs() + quietMs;
            out.write(reinterpret_cast<const char*>(buf), n);
            total += n;
            std::cout << "Read: " << total << '\r' << std::flush;
            continue;
        }
        // Sleep until input comes or the time is up instead of asking again at once.
        if (!m_device || m_device->Poll(POLLIN, static_cast<int>(deadline - now)) < 0) break;
    }
    std::cout << "Read: " << total << " bytes." << std::endl;
    std::streampos pos = out.tellp();
    return pos != std::streampos(-1) && pos > 0;
}

bool CCommPort::Reopen(const std::string& name) {
    DCB saved{};
    const bool restore = IsOpen() && GetDCB(saved);
    if (IsOpen()) Close();
    const bool opened = Open(name);
    if (opened && restore) return SetDCB(saved);
    return opened;
}

void CCommPort::ReadStart(CMessageTarget* target) {
    if (!m_device) return;
    CReaderThread::TSetup setup;
    setup.device = m_device;
    setup.notify = m_notifyWnd;
    setup.target = target;
    setup.reporter = m_verbose ? m_reporter : nullptr;
    setup.trace = m_trace;
    if (auto failure = m_reader.Start(setup)) Report(*failure);
}
