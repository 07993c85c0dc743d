#include "PortSession.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "CtlCommand.h"

namespace {

// What the Ctrl-C handler may touch: plain data, set before it is installed.
volatile sig_atomic_t g_counting = 0;
int g_interruptPipe[2] = {-1, -1};
bool g_handlerInstalled = false;
struct sigaction g_previousAction;

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

bool CPortSession::Open(const std::string& portName, int model) {
    m_state.SetModel(model);
    if (portName.empty()) {
        ReportError("no port to open: give --port DEV");
        return false;
    }
    InstallHandler();
    m_port = std::make_unique<CCommPort>(&m_reporter, CCommPort::DeviceFactory(), CCommPort::TProfileUse::ReadOnly);
    m_port->SetVerbose(true);
    // Failures have been reported through the message box hook.
    if (!m_port->Open(portName) || !m_port->RestoreLineSettings()) {
        ReportError("opening port " + portName + " failed");
        return false;
    }
    return true;
}

int CPortSession::BeginCountdown() {
    if (!g_handlerInstalled || g_interruptPipe[0] < 0) return -1;
    char drain[16];
    while (::read(g_interruptPipe[0], drain, sizeof drain) > 0) {
    }
    g_counting = 1;
    return g_interruptPipe[0];
}

void CPortSession::EndCountdown() { g_counting = 0; }
