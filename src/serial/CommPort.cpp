#include "CommPort.h"

#include <cerrno>
#include <cstring>
#include <sstream>
#include <utility>

#include "DcbLine.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "ModeString.h"
#include "PortCatalogue.h"
#include "PortReporter.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"
#include "Trace.h"
#include "Win32Err.h"

namespace {

constexpr char kDefaultMode[] = "baud=9600 parity=n data=8 stop=1";

// Failures the program finds itself, with no system text to show.
constexpr char kBadModeHint[] = "The profile's setting Mode=%s in [Communication] is not a mode the port knows.";
constexpr char kMismatchHint[] =
    "The port kept other line settings than it was given (rate, data bits, parity or stop bits).";

}  // namespace

unsigned CCommPort::RoundTripMs() const { return m_device ? m_device->RoundTripMs() : 0; }

bool CCommPort::IsNetworkLink() const { return m_device && m_device->IsNetworkLink(); }

void CCommPort::Report(const CWin32Err& err, bool evenWithoutCode) {
    m_lastError = err.GetCode();
    // The call's name is for whoever reads the trace; the user reads the reason.
    TRACE("CCommPort: %s\n", err.GetDiagnostic().c_str());
    std::string text;
    if ((err.GetText(text) || evenWithoutCode) && m_verbose && m_reporter) m_reporter->ShowError(text);
}

void CCommPort::ReportAndClose(const CWin32Err& err, bool evenWithoutCode) {
    m_lastError = err.GetCode();
    m_lastFailure = std::string(Trim(err.GetMessage()));
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
    if (err.GetMessage().empty()) m_openFailure += " " + std::string(std::strerror(EIO)) + ".";
    if (m_reporter) {
        // Made only when asked for: it reads the device, which may report too.
        // The report file is for diagnosis: it names the failed call too.
        const std::string diagnostic = err.GetDiagnostic();
        m_reporter->OpenFailed(text, [this, &diagnostic] {
            std::ostringstream report;
            DumpState(report, diagnostic.c_str());
            return report.str();
        });
    }
    NotifyStatus(-1, 0);
    Close();
    // Shown even without a code: the read-back mismatch has none.
    Report(err, true);
    return false;
}

bool CCommPort::Open(const std::string& name) {
    Close();
    CPortCatalogue::TTarget target = CPortCatalogue::Resolve(name, m_factory);
    m_opening = target.path == target.portName ? target.portName : target.portName + " (" + target.path + ")";
    errno = ENODEV;
    if (!target.device || !target.device->Open(target.path)) {
        CWin32Err err("CreateFile");
        // The device's own words, where it has them, say more than a hint.
        const std::string note = target.device ? target.device->OpenFailureNote() : std::string();
        if (!note.empty()) {
            err.AppendHint(note);
        } else if (!target.isVirtual) {
            const std::string hint = CPortCatalogue::OpenHint(err.GetCode(), target.path);
            if (!hint.empty()) err.AppendHint(hint);
        }
        return FailOpen(err);
    }
    m_device = std::move(target.device);

    DCB dcb{};
    dcb.DCBlength = 28;
    const std::string mode = GetProfileString(ProfileKeys::COMMUNICATION, ProfileKeys::MODE, kDefaultMode);
    if (!BuildCommDCB(mode.c_str(), dcb)) {
        CWin32Err err("BuildCommDCB", EINVAL);
        err.AppendHint(FormatString(kBadModeHint, mode.c_str()));
        return FailOpen(err);
    }
    if (!m_device->SetLineState(ToLineSettings(dcb))) return FailOpen(CWin32Err("SetCommState"));
    if (!MatchesDCB(dcb)) {
        CWin32Err err("GetCommState() returned a different comm state from SetCommState()!", 0);
        err.AppendHint(kMismatchHint);
        return FailOpen(err);
    }
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
    m_lastFailure.clear();
    m_deviceGone = false;
    ++m_openSerial;
    NotifyStatus(0, 0);
    m_settings.SetPortName(target.portName);
    m_tracedRoundTripMs = -1;
    TraceRoundTrip();
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
    if (m_device) FlushWrites(PURGE_INPUT | DRAIN_OUTPUT);
    // A reader still running (left by a closing application, or being
    // stopped further up this thread's stack) still polls the device: it
    // closes it when it ends.
    if (!m_reader.HandOver(m_device) && m_device) m_device->Close();
    m_device.reset();
    m_goneName.clear();
    return true;
}

void CCommPort::CloseAsGone() {
    if (!IsOpen()) return;
    const std::string name = Name();
    Close();
    m_goneName = name;
}

bool CCommPort::IsOpen() const { return m_device != nullptr; }

bool CCommPort::IsHungUp() const {
    if (!m_device) return false;
    // Waiting for nothing still tells of a hang-up, and takes nothing.
    return HasAny(m_device->Wait(TDeviceEvents::None, 0), TDeviceEvents::HungUp);
}

void CCommPort::SetNotifyWnd(CMessageTarget* target) { m_notifyWnd = target; }

void CCommPort::NotifyStatus(int code, int value) {
    if (m_notifyWnd)
        m_notifyWnd->Send(WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(code)), value);
}

void CCommPort::ShowStatusText(unsigned id) {
    if (m_notifyWnd) m_notifyWnd->Send(WM_STATUSTEXT, id, 0);
}

bool CCommPort::Reset() {
    if (!m_device) return false;
    if (!m_device->Purge(true, true)) return false;
    CSerialDevice::TErrorCounts now;
    if (!m_device->GetErrorCounts(now)) return false;
    const CSerialDevice::TErrorCounts base = m_errorBase;
    m_errorBase = now;
    // The counters only grow; any change since the base is a new error. The
    // driver counts no I/O, mode or output-full errors.
    if (now.brk != base.brk) ShowStatusText(IDS_BREAK_DETECTED);
    if (now.frame != base.frame) ShowStatusText(IDS_FRAMING_ERROR);
    if (now.overrun != base.overrun) ShowStatusText(IDS_CHAR_OVERRUN);
    if (now.bufOverrun != base.bufOverrun) ShowStatusText(IDS_INPUT_OVERRUN);
    if (now.parity != base.parity) ShowStatusText(IDS_PARITY_ERROR);
    return true;
}

bool CCommPort::GetDCB(DCB& dcb) {
    if (!m_device) return false;
    TLineSettings line;
    if (!m_device->GetLineState(line)) {
        ReportAndClose(CWin32Err("GetCommState"));
        return false;
    }
    dcb = ToDcb(line);
    return true;
}

bool CCommPort::SetDCB(const DCB& dcb) {
    if (!m_device) return false;
    if (!m_device->SetLineState(ToLineSettings(dcb))) {
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
    out << Name() << std::endl;
    out << "Open: " << (IsOpen() ? 1 : 0) << std::endl;
    out << "DCB from    " << std::endl;
    out << "BaudRate    " << dcb.BaudRate << std::endl;
    out << "Parity      " << (dcb.fParity ? 1 : 0) << std::endl;
    out << "Data Length " << static_cast<unsigned>(dcb.ByteSize) << std::endl;
    out << "Stop Length " << static_cast<unsigned>(dcb.StopBits) << std::endl;
    return true;
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
