#include "PortSession.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>

#include "CtlCommand.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

// What the signal handler may touch: plain data, set before it is installed.
volatile sig_atomic_t g_counting = 0;
volatile sig_atomic_t g_guarded = 0;     // a write runs: end it after its step
volatile sig_atomic_t g_stopSignal = 0;  // the signal that asked it to end
int g_interruptPipe[2] = {-1, -1};
bool g_handlerInstalled = false;
// Sessions of several ports may open and close on threads of their own: the
// handler stays while any of them is open.
std::mutex g_handlerMutex;
int g_handlerUsers = 0;
// Ctrl-C, and what systemd, a timeout or a dropped SSH session sends.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previousActions[std::size(kStopSignals)];
// Shared by the sessions of all ports, each line written whole.
std::shared_ptr<CLineTrace> g_trace;

void OnInterrupt(int signal) {
    const int savedErrno = errno;
    if ((g_counting || g_guarded) && g_interruptPipe[1] >= 0) {
        if (g_guarded) g_stopSignal = signal;
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
        errno = savedErrno;
        return;
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void InstallHandler() {
    if (g_handlerInstalled) return;
    if (g_interruptPipe[0] < 0 && ::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_interruptPipe[0] = g_interruptPipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int s : kStopSignals) sigaddset(&action.sa_mask, s);
    action.sa_flags = 0;  // no restart: a waiting poll wakes at once
    g_handlerInstalled = true;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        if (::sigaction(kStopSignals[i], &action, &g_previousActions[i]) != 0) g_handlerInstalled = false;
}

bool MeansDeviceGone(const std::string& reason) {
    for (int code : {EIO, ENXIO, ENODEV})
        if (reason == std::strerror(code)) return true;
    return false;
}

// A network port's connection that went away: the server or the network.
bool MeansConnectionGone(const std::string& reason) {
    for (int code : {ECONNRESET, EPIPE, ECONNABORTED, ENOTCONN, ETIMEDOUT, EHOSTUNREACH, ENETUNREACH})
        if (reason == std::strerror(code)) return true;
    return false;
}

void RemoveHandler() {
    if (!g_handlerInstalled || g_guarded) return;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &g_previousActions[i], nullptr);
    g_handlerInstalled = false;
}

}  // namespace

CPortSession::~CPortSession() {
    m_port.reset();
    if (!m_portName.empty()) {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        if (--g_handlerUsers == 0) RemoveHandler();
    }
}

std::string CPortSession::OpenFailure() const { return m_port ? m_port->GetOpenFailure() : std::string(); }

int CPortSession::OpenErrorCode() const { return m_port && !m_port->IsOpen() ? m_port->LastErrorCode() : 0; }

// A port error arrives as the system's text, then what to do, one a line;
// while a clock does not answer or the device is gone the same error comes
// for every attempt at every byte. Once the port is open each reason is said
// once, in one line, and a device that went away is said so.
void CPortSession::Say(const std::string& text) {
    if (!m_sayOnce) {
        ReportError(text);
        return;
    }
    std::string line;
    std::string reason;
    std::size_t start = 0;
    for (int n = 0; start < text.size(); ++n) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (n == 0) reason = part;
        line += (line.empty() ? "" : ": ") + part;
    }
    if (MeansDeviceGone(reason)) {
        line = FormatString(GetString(IDS_CTL_DEVICE_GONE).c_str(), reason.c_str());
    } else if (MeansConnectionGone(reason)) {
        line = FormatString(GetString(IDS_CTL_CONNECTION_GONE).c_str(), m_portName.c_str(), reason.c_str());
    }
    if (m_said.insert(line).second) ReportError(line);
}

bool CPortSession::Open(const std::string& portName, int model) {
    m_state.SetModel(model);
    m_state.SetUi(&m_ui);
    if (portName.empty()) {
        ReportError("no port to open: give --port DEV");
        return false;
    }
    if (m_portName.empty()) {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        ++g_handlerUsers;
        InstallHandler();
    }
    m_portName = portName;
    // Read-only: every failure goes to the reporter, whatever "Verbose" says.
    m_port = std::make_unique<CCommPort>(&m_reporter, CCommPort::DeviceFactory(), CCommPort::TProfileUse::ReadOnly);
    m_port->SetTrace(g_trace);
    // The stored line settings on the port the options name. Failures have
    // been reported through the reporter.
    CPortSettings stored;
    stored.LoadProfile();
    if (!m_port->Open(portName) || !m_port->ApplySettings(stored, CCommPort::TSettingsFrom::PROFILE)) {
        ReportError("opening port " + portName + " failed");
        return false;
    }
    m_said.clear();
    m_sayOnce = true;
    return true;
}

void CPortSession::SetTrace(std::shared_ptr<CLineTrace> trace) { g_trace = std::move(trace); }

int CPortSession::BeginCountdown() {
    if (!g_handlerInstalled || g_interruptPipe[0] < 0) return -1;
    char drain[16];
    while (::read(g_interruptPipe[0], drain, sizeof drain) > 0) {
    }
    g_counting = 1;
    // A stop taken during an earlier step ends the count at once.
    if (g_stopSignal != 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
    }
    return g_interruptPipe[0];
}

void CPortSession::EndCountdown() { g_counting = 0; }

void CPortSession::StopAfterStep(bool on) {
    if (on) {
        InstallHandler();
        // A write's lines to a closed pipe (a dropped session) must not end it.
        ::signal(SIGPIPE, SIG_IGN);
    }
    g_guarded = on && g_handlerInstalled && g_interruptPipe[1] >= 0 ? 1 : 0;
    if (!on) RemoveHandler();
}

int CPortSession::StopSignal() { return g_stopSignal; }
