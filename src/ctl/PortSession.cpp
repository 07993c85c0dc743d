#include "PortSession.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CtlCommand.h"
#include "Profile.h"

namespace {

// What the Ctrl-C handler may touch: plain data, set before it is installed.
volatile sig_atomic_t g_counting = 0;
int g_interruptPipe[2] = {-1, -1};
char g_copyFile[PATH_MAX];
char g_copyLock[PATH_MAX];
char g_copyDir[PATH_MAX];
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
    if (g_copyFile[0]) ::unlink(g_copyFile);
    if (g_copyLock[0]) ::unlink(g_copyLock);
    if (g_copyDir[0]) ::rmdir(g_copyDir);
    ::signal(SIGINT, SIG_DFL);
    ::raise(SIGINT);
}

bool CopyName(char (&target)[PATH_MAX], const std::string& name) {
    if (name.size() >= PATH_MAX) return false;
    std::memcpy(target, name.c_str(), name.size() + 1);
    return true;
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
    // The port stores its settings into the copy as it ends.
    m_port.reset();
    RemoveProfileCopy();
}

bool CPortSession::MakeProfileCopy(const std::string& portName) {
    m_savedProfilePath = GetProfilePath();
    std::string original;
    {
        std::ifstream in(m_savedProfilePath, std::ios::binary);
        if (in) {
            std::ostringstream bytes;
            bytes << in.rdbuf();
            original = bytes.str();
        }
    }

    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvelctl-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        ReportError(std::string("cannot make a private copy of the settings: ") + std::strerror(errno));
        return false;
    }
    m_dir = tmpl;
    const std::string copy = m_dir + "/" + GetAppName() + ".INI";
    if (!CopyName(g_copyFile, copy) || !CopyName(g_copyLock, copy + ".lock") || !CopyName(g_copyDir, m_dir)) {
        ReportError("cannot make a private copy of the settings: path too long");
        return false;
    }
    InstallHandler();
    {
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out.write(original.data(), static_cast<std::streamsize>(original.size()));
        if (!out.flush()) {
            ReportError("cannot make a private copy of the settings in " + m_dir);
            return false;
        }
    }
    SetProfilePath(copy);
    if (!WriteProfileString("Communication", "CommPort", portName)) {
        ReportError("'" + portName + "' cannot be used as a port name");
        return false;
    }
    if (!WriteProfileInt("Communication", "AutoOpen", 1) || !WriteProfileInt("Debug", "Verbose", 1)) {
        ReportError("cannot write the private copy of the settings in " + m_dir);
        return false;
    }
    return true;
}

void CPortSession::RemoveProfileCopy() {
    if (m_dir.empty()) return;
    SetProfilePath(m_savedProfilePath);
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
    m_dir.clear();
    RemoveHandler();
    g_copyFile[0] = g_copyLock[0] = g_copyDir[0] = '\0';
}

bool CPortSession::Open(const std::string& portName, int model) {
    m_state.SetModel(model);
    if (portName.empty()) {
        ReportError("no port to open: give --port DEV");
        return false;
    }
    if (!MakeProfileCopy(portName)) {
        RemoveProfileCopy();
        return false;
    }
    // Opens the port and applies the stored line settings; a failure has
    // been reported through the message box hook.
    m_port = std::make_unique<CCommPort>();
    if (!m_port->IsOpen()) {
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
