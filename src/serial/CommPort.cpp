#include "CommPort.h"

#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iostream>
#include <mutex>
#include <system_error>
#include <utility>

#include "MessageTarget.h"
#include "Messages.h"
#include "ModeString.h"
#include "PortList.h"
#include "Profile.h"
#include "Prompts.h"
#include "StringTable.h"
#include "TermiosDevice.h"
#include "Trace.h"
#include "Win32Err.h"

namespace {

constexpr char kSection[] = "Communication";
constexpr char kDefaultMode[] = "baud=9600 parity=n data=8 stop=1";
constexpr char kErrorFile[] = "commport_err.txt";

// A break cleared at once may never reach the line (Linux drivers toggle the
// bit within microseconds); held this long the clock sees it even at 1200
// baud, where it spans more than ten characters.
constexpr unsigned kBreakHoldMs = 100;

// The reader gives up on a device that keeps reporting input it never has.
constexpr int kMaxEmptyWakes = 16;

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

unsigned ProfileMs(const char* key) {
    int ms = GetProfileInt(kSection, key, 1000);
    return ms > 0 ? static_cast<unsigned>(ms) : 0;
}

std::shared_ptr<CSerialDevice> MakeTermiosDevice() { return std::make_shared<CTermiosDevice>(); }

bool DeviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

// What to do about a device the user may not open: join the group that owns
// it, when that group may read and write it.
std::string AccessHint(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_gid != 0 && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP)) {
        group grp{};
        group* found = nullptr;
        std::vector<char> buf(4096);
        if (::getgrgid_r(st.st_gid, &grp, buf.data(), buf.size(), &found) == 0 && found && found->gr_name) {
            std::string name = found->gr_name;
            return "Add yourself to the group \"" + name + "\" (sudo usermod -aG " + name +
                   " $USER), then log out and in again.";
        }
    }
    return "Ask your administrator for read and write access to " + path + ".";
}

// What to do about a device that is not there: plug it in, or pick one that is.
std::string MissingHint(const std::string& path, const std::vector<std::string>& virtualPorts) {
    std::string hint = "No such device. Is the clock's cable or USB adapter plugged in?\n";
    std::vector<std::string> present = CPortList::FindSerialDevices();
    present.erase(std::remove(present.begin(), present.end(), path), present.end());
    if (present.empty()) {
        hint += "No serial ports were found.";
        if (!virtualPorts.empty()) hint += " The port " + virtualPorts.front() + " works without a clock.";
        return hint;
    }
    hint += "Serial ports found:";
    for (std::size_t i = 0; i < present.size(); ++i) hint += (i ? ", " : " ") + present[i];
    return hint + ".";
}

// A line the user can act on for the usual reasons an open fails; empty
// for the others, whose system text says enough.
std::string OpenHint(int code, const std::string& path, const std::vector<std::string>& virtualPorts) {
    switch (code) {
    case EACCES:
    case EPERM:
        return AccessHint(path);
    case EBUSY:
    case EWOULDBLOCK:
        return "The port is in use by another program.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:  // a ttyS without a chip behind it
        return MissingHint(path, virtualPorts);
    default:
        return std::string();
    }
}

struct TVirtualPort {
    std::string name;
    std::string description;
    CCommPort::DeviceFactory factory;
    std::string Listed() const { return name + " (" + description + ")"; }
};

std::mutex g_virtualMutex;
std::vector<TVirtualPort> g_virtualPorts;  // under g_virtualMutex

bool SameTextNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The entry text stands for: its name in any case, or its listed text.
bool FindVirtualPort(const std::string& text, TVirtualPort& found) {
    const std::string wanted = Trimmed(text);
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    for (const auto& port : g_virtualPorts) {
        if (SameTextNoCase(wanted, port.name) || SameTextNoCase(wanted, port.Listed())) {
            found = port;
            return true;
        }
    }
    return false;
}

}  // namespace

// What the reader thread uses. It owns all of it, so the thread may outlive
// the port's interest in it (see ReadStop).
struct CCommPort::TReader {
    std::shared_ptr<CSerialDevice> device;
    CMessageTarget* notify = nullptr;
    CMessageTarget* target = nullptr;
    bool verbose = false;
    int stopFd = -1;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable cv;
    bool ended = false;             // under mutex
    bool closeDeviceOnEnd = false;  // under mutex: the port has let go of the device

    ~TReader() {
        if (stopFd >= 0) ::close(stopFd);
    }
};

CCommPort::CCommPort() : CCommPort(DeviceFactory(MakeTermiosDevice)) {}

CCommPort::CCommPort(DeviceFactory factory) : CCommPort(std::move(factory), TProfileUse::ReadAndStore) {}

CCommPort::CCommPort(DeviceFactory factory, TProfileUse use)
    : m_factory(factory ? std::move(factory) : DeviceFactory(MakeTermiosDevice)),
      m_storesProfile(use == TProfileUse::ReadAndStore) {
    m_timeouts.ReadIntervalTimeout = MAXDWORD;
    if (m_storesProfile) LoadProfile();
}

CCommPort::~CCommPort() {
    if (m_storesProfile) SaveProfile();
    Close();
    ReadStop();
}

std::string CCommPort::DevicePath(const std::string& name) {
    if (name.size() == 4 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
        (name[2] == 'M' || name[2] == 'm') && name[3] >= '1' && name[3] <= '4')
        return "/dev/ttyS" + std::string(1, static_cast<char>(name[3] - 1));
    return name;
}

void CCommPort::Report(const CWin32Err& err) {
    m_lastError = err.GetCode();
    std::string text;
    if (err.GetText(text) && m_verbose) ShowMessageBox(text);
}

void CCommPort::ReportAndClose(const CWin32Err& err) {
    m_lastError = err.GetCode();
    NotifyStatus(-1, 0);
    if (IsOpen()) Close();
    std::string text;
    if (err.GetText(text) && m_verbose) ShowMessageBox(text);
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
    {
        std::ofstream out(kErrorFile, std::ios::out | std::ios::trunc);
        DumpState(out, text.c_str());
    }
    NotifyStatus(-1, 0);
    Close();
    if (m_verbose) ShowMessageBox(text);
    TRACE("CCommPort::Open(): %s\n", text.c_str());
    return false;
}

void CCommPort::RegisterVirtualPort(const std::string& name, const std::string& description,
                                    DeviceFactory factory) {
    if (name.empty() || !factory) return;
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    for (auto& port : g_virtualPorts) {
        if (SameTextNoCase(port.name, name)) {
            port = TVirtualPort{name, description, std::move(factory)};
            return;
        }
    }
    g_virtualPorts.push_back(TVirtualPort{name, description, std::move(factory)});
}

void CCommPort::UnregisterVirtualPort(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    g_virtualPorts.erase(std::remove_if(g_virtualPorts.begin(), g_virtualPorts.end(),
                                        [&](const TVirtualPort& port) { return SameTextNoCase(port.name, name); }),
                         g_virtualPorts.end());
}

std::string CCommPort::VirtualPortName(const std::string& text) {
    TVirtualPort port;
    return FindVirtualPort(text, port) ? port.name : std::string();
}

void CCommPort::ListVirtualPorts(std::vector<std::string>& texts) {
    std::lock_guard<std::mutex> lock(g_virtualMutex);
    for (const auto& port : g_virtualPorts) texts.push_back(port.Listed());
}

bool CCommPort::Open(const std::string& name) {
    Close();
    // A virtual port is known by its name, which its device gets as the path.
    TVirtualPort virtualPort;
    const bool isVirtual = FindVirtualPort(name, virtualPort);
    const std::string portName = isVirtual ? virtualPort.name : name;
    const std::string path = isVirtual ? virtualPort.name : DevicePath(name);
    std::shared_ptr<CSerialDevice> device = isVirtual ? virtualPort.factory() : m_factory();
    m_opening = path == portName ? portName : portName + " (" + path + ")";
    errno = ENODEV;
    if (!device || !device->Open(path)) {
        CWin32Err err("CreateFile");
        if (!isVirtual) {
            std::vector<std::string> virtualPorts;
            ListVirtualPorts(virtualPorts);
            const std::string hint = OpenHint(err.GetCode(), path, virtualPorts);
            if (!hint.empty()) err.AppendHint(hint);
        }
        return FailOpen(err);
    }
    m_device = std::move(device);

    DCB dcb{};
    dcb.DCBlength = 28;
    const std::string mode = GetProfileString(kSection, "Mode", kDefaultMode);
    if (!BuildCommDCB(mode.c_str(), dcb)) return FailOpen(CWin32Err("BuildCommDCB", EINVAL));
    if (!m_device->SetLineState(dcb)) return FailOpen(CWin32Err("SetCommState"));
    if (!MatchesDCB(dcb))
        return FailOpen(CWin32Err("GetCommState() returned a different comm state from SetCommState()!", 0));
    // Reads return at once with what is queued. Queue sizes and the event
    // mask have no counterpart on a tty.
    m_timeouts = COMMTIMEOUTS{};
    m_timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!m_device->GetErrorCounts(m_errorBase)) m_errorBase = CSerialDevice::TErrorCounts{};

    m_openFailure.clear();
    NotifyStatus(0, 0);
    m_name = portName;
    if (CMessageTarget* main = GetMainTarget()) main->Send(WM_PORTSTATECHANGED, 0, 0);
    TRACE("CCommPort::Open(): opened %s\n", path.c_str());
    return true;
}

bool CCommPort::Close() {
    // A handler dispatched while ReadStop waits may start a reader again; it
    // must not be left polling the device closed below.
    do {
        ReadStop();
    } while (m_reader);
    if (m_device) {
        FlushWrites(3);
        // A reader still running (left by a closing application, or being
        // stopped further up this thread's stack) still polls the device:
        // it closes it when it ends.
        bool handedOver = false;
        for (const auto& reader : {m_abandoned, m_stopping}) {
            if (!reader || handedOver) continue;
            std::lock_guard<std::mutex> lock(reader->mutex);
            if (!reader->ended && reader->device == m_device) {
                reader->closeDeviceOnEnd = true;
                handedOver = true;
            }
        }
        if (!handedOver) m_device->Close();
        m_device.reset();
    }
    m_abandoned.reset();
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
    const long long pendEnd = start + ProfileMs("ReadTimeOut");
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
        if (pendEnd < 0) pendEnd = NowMs() + ProfileMs("WriteTimeOut");
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
        if (!m_device->Drain(ProfileMs("WriteTimeOut"))) {
            Report(CWin32Err("FlushWrites()"));
            return false;
        }
    }
    return m_device->Purge((flags & 1) != 0, (flags & 2) != 0);
}

bool CCommPort::SendBreak() {
    if (!m_device) return false;
    if (!m_device->SetBreak(true)) return false;
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
    if (m_reader) {
        {
            std::lock_guard<std::mutex> lock(m_reader->mutex);
            if (!m_reader->ended) return;  // the running thread keeps its target
        }
        m_readerThread->join();  // ended by a failure: release it
        m_readerThread.reset();
        m_reader.reset();
    }
    auto reader = std::make_shared<TReader>();
    reader->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (reader->stopFd < 0) {
        Report(CWin32Err("CreateEvent"));
        return;
    }
    reader->device = m_device;
    reader->notify = m_notifyWnd;
    reader->target = target;
    reader->verbose = m_verbose;
    try {
        m_readerThread = std::make_unique<std::thread>(ReaderThreadProc, reader);
    } catch (const std::system_error& e) {
        Report(CWin32Err("AfxBeginThread", e.code().value()));
        return;
    }
    m_readerWnd = target;
    m_reader = std::move(reader);
}

void CCommPort::ReadStop() {
    if (!m_reader) return;
    // Taken over at once: a handler run by the pump below may call ReadStop,
    // ReadStart or Close again.
    std::shared_ptr<TReader> reader = std::move(m_reader);
    std::unique_ptr<std::thread> thread = std::move(m_readerThread);
    reader->stop = true;
    const std::uint64_t one = 1;
    if (::write(reader->stopFd, &one, sizeof one) < 0) {
        // Cannot fail on an eventfd short of overflow; the flag alone still ends the loop.
    }
    // The thread may be blocked in a Send that only this thread can deliver:
    // keep dispatching while we wait.
    std::shared_ptr<TReader> outer = std::exchange(m_stopping, reader);
    bool ended = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(reader->mutex);
            ended = reader->cv.wait_for(lock, std::chrono::milliseconds(2), [&] { return reader->ended; });
        }
        if (ended || !PumpWaitingMessages()) break;
    }
    m_stopping = std::move(outer);
    if (ended) {
        thread->join();
    } else {
        // Closing: leave the thread to end by itself. It sends nothing more
        // and owns what it still touches; Close hands it the device.
        thread->detach();
        m_abandoned = reader;
    }
}

void CCommPort::ReaderThreadProc(std::shared_ptr<TReader> reader) {
    TReader& r = *reader;
    std::vector<unsigned char> buf(1024);
    auto send = [&r](CMessageTarget* to, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        if (to && !r.stop) to->Send(msg, wParam, lParam);
    };
    auto report = [&r](const CWin32Err& err) {
        std::string text;
        if (err.GetText(text) && r.verbose && !r.stop) ShowMessageBox(text);
    };
    // One report for a device that went away (unplugged, hung up).
    auto vanished = [&](int code) {
        TRACE("CCommPort::ReaderThreadProc(): device gone\n");
        // The reason first: whoever learns of the status may stop the reader
        // at once, and a stopping reader shows nothing more.
        report(CWin32Err("ReadFile", code));
        send(r.notify, WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(-1)), 0);
    };

    const int deviceFd = r.device->PollFd();
    int emptyWakes = 0;
    while (!r.stop) {
        pollfd fds[2] = {{r.stopFd, POLLIN, 0}, {deviceFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            report(CWin32Err("WaitForMultipleObjects"));
            break;
        }
        if (fds[0].revents || r.stop) break;
        const short events = fds[1].revents;
        const bool gone = (events & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (events & POLLIN) {
            unsigned queued = 0;
            if (!r.device->QueuedInput(queued)) {
                int err = errno;
                if (gone || DeviceGone(err))
                    vanished(err ? err : EIO);
                else
                    report(CWin32Err("ClearCommError", err));
                break;
            }
            // Grow to hold everything queued, rounded up to a multiple of 4.
            if (queued > buf.size()) buf.resize((static_cast<std::size_t>(queued) + 1 + 3) / 4 * 4);
            ssize_t n = r.device->Read(buf.data(), queued ? queued : buf.size());
            if (n > 0) {
                emptyWakes = 0;
                send(r.notify, WM_COMMSTATUS, 1, n);
                send(r.target, WM_COMMDATA, static_cast<std::uintptr_t>(n),
                     reinterpret_cast<std::intptr_t>(buf.data()));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                int err = errno;
                if (gone || DeviceGone(err))
                    vanished(err);
                else
                    report(CWin32Err("ReadFile", err));
                break;
            }
        }
        if (gone) {
            vanished(EIO);
            break;
        }
        // Readable but nothing to read: a tty does that only once its
        // device has gone (or when a Read on the other thread won the race).
        if (++emptyWakes >= kMaxEmptyWakes) {
            vanished(EIO);
            break;
        }
    }

    std::lock_guard<std::mutex> lock(r.mutex);
    r.ended = true;
    if (r.closeDeviceOnEnd) r.device->Close();
    r.cv.notify_all();
}
