#include "PortSession.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "CtlCommand.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

// What the Ctrl-C handler may touch: plain data, set before it is installed.
volatile sig_atomic_t g_counting = 0;
int g_interruptPipe[2] = {-1, -1};
bool g_handlerInstalled = false;
struct sigaction g_previousAction;
// Shared by the sessions of all ports, each line written whole.
std::shared_ptr<CLineTrace> g_trace;

void OnInterrupt(int) {
    const int savedErrno = errno;
    if (g_counting && g_interruptPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
        errno = savedErrno;
        return;
    }
    ::signal(SIGINT, SIG_DFL);
    ::raise(SIGINT);
}

void InstallHandler() {
    if (g_handlerInstalled) return;
    if (g_interruptPipe[0] < 0 && ::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_interruptPipe[0] = g_interruptPipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a waiting poll wakes at once
    if (::sigaction(SIGINT, &action, &g_previousAction) == 0) g_handlerInstalled = true;
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
    if (!g_handlerInstalled) return;
    ::sigaction(SIGINT, &g_previousAction, nullptr);
    g_handlerInstalled = false;
}

}  // namespace

CPortSession::~CPortSession() {
    m_port.reset();
    RemoveHandler();
}

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
    InstallHandler();
    m_portName = portName;
    m_port = std::make_unique<CCommPort>(&m_reporter, CCommPort::DeviceFactory(), CCommPort::TProfileUse::ReadOnly);
    m_port->SetVerbose(true);
    m_port->SetTrace(g_trace);
    // Failures have been reported through the reporter.
    if (!m_port->Open(portName) || !m_port->RestoreLineSettings()) {
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
    return g_interruptPipe[0];
}

void CPortSession::EndCountdown() { g_counting = 0; }
