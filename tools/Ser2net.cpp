#include "Ser2net.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace {

bool Executable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A port of 127.0.0.1 nobody listens on just now. Another program may take it
// before ser2net does; Start then tries another.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(addr);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// The socket inodes of the listening sockets on a local port.
std::set<std::string> ListeningInodes(int port) {
    std::set<std::string> inodes;
    char portHex[8];
    std::snprintf(portHex, sizeof(portHex), "%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const std::size_t colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && local.substr(colon + 1) == portHex)
                inodes.insert(inode);
        }
    }
    return inodes;
}

}  // namespace

CSer2net::~CSer2net() {
    Stop();
    std::error_code ec;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
}

std::string CSer2net::Program() {
    if (const char* own = std::getenv("TARVEL_SER2NET"); own && *own) return Executable(own) ? own : "";
    if (Executable("/usr/sbin/ser2net")) return "/usr/sbin/ser2net";
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && Executable(dir + "/ser2net")) return dir + "/ser2net";
    }
    return "";
}

bool CSer2net::Start(const std::string& device, TAccepter accepter, std::string& reason) {
    Stop();
    const std::string program = Program();
    if (program.empty()) {
        reason = "ser2net is not installed (looked for $TARVEL_SER2NET, /usr/sbin/ser2net and PATH)";
        return false;
    }
    if (m_dir.empty()) {
        std::string dir = (std::filesystem::temp_directory_path() / "tarvel-ser2net-XXXXXX").string();
        if (!::mkdtemp(dir.data())) {
            reason = std::string("cannot make a folder for ser2net: ") + std::strerror(errno);
            return false;
        }
        m_dir = dir;
    }
    m_accepter = accepter;
    const std::string config = m_dir + "/ser2net.yaml", log = m_dir + "/log", pidFile = m_dir + "/pid";

    // A port taken between our look and ser2net's bind: try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = FreePort();
        if (m_port == 0) {
            reason = std::string("no free port on 127.0.0.1: ") + std::strerror(errno);
            return false;
        }
        std::ofstream(config) << "%YAML 1.1\n---\nconnection: &clock\n  accepter: "
                              << (accepter == TAccepter::Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
                              << m_port << "\n  connector: serialdev," << device << ",9600n81,local\n";
        // -u: no UUCP lock files, which a killed server would leave behind.
        std::vector<std::string> args{program, "-n", "-d", "-u", "-c", config, "-P", pidFile};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int rc = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            m_pid = -1;
            reason = "cannot run " + program + ": " + std::strerror(rc);
            return false;
        }
        // Generous: the machine may be busy with other tests.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Listening()) return true;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                reason = program + " ended at start (" +
                         (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                            : "signal " + std::to_string(WTERMSIG(status))) +
                         "): " + Log();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (m_pid > 0) {
            reason = program + " did not listen on 127.0.0.1:" + std::to_string(m_port) + " within 20 s: " + Log();
            Stop();
        }
    }
    return false;
}

// Its own listening socket on the port, not another program's.
bool CSer2net::Listening() const {
    if (m_pid <= 0) return false;
    const std::set<std::string> inodes = ListeningInodes(m_port);
    if (inodes.empty()) return false;
    const std::string fdDir = "/proc/" + std::to_string(m_pid) + "/fd";
    DIR* dir = ::opendir(fdDir.c_str());
    if (!dir) return false;
    bool found = false;
    while (dirent* e = ::readdir(dir)) {
        char target[128] = {};
        const std::string link = fdDir + "/" + e->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
        if (n <= 0) continue;
        const std::string text(target, static_cast<std::size_t>(n));
        if (text.rfind("socket:[", 0) == 0 && inodes.count(text.substr(8, text.size() - 9))) found = true;
    }
    ::closedir(dir);
    return found;
}

std::string CSer2net::PortName() const {
    return (m_accepter == TAccepter::Rfc2217 ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(m_port);
}

bool CSer2net::Reap(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t done = ::waitpid(m_pid, nullptr, WNOHANG);
        if (done == m_pid || (done < 0 && errno == ECHILD)) {
            m_pid = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void CSer2net::Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    if (!Reap(10000)) Kill();
}

void CSer2net::Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    while (!Reap(60000)) {
    }
}

std::string CSer2net::Log() const {
    if (m_dir.empty()) return "";
    std::ifstream in(m_dir + "/log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
