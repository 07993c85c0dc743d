#include "CtlRunner.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "TestSupport.h"

extern char** environ;

CCtlRunner::CCtlRunner(std::string dir) : m_dir(std::move(dir)) {
    std::filesystem::create_directories(m_dir + "/config");
}

bool CCtlRunner::Available() {
#ifdef TARVELCTL_PATH
    return true;
#else
    return false;
#endif
}

void CCtlRunner::WriteProfile(const std::string& text) { WriteWholeFile(ProfilePath(), text); }

pid_t CCtlRunner::Start(const std::vector<std::string>& args) {
#ifdef TARVELCTL_PATH
    std::vector<std::string> all{TARVELCTL_PATH};
    // A shell sets the limit; the signal a write past it raises is ignored,
    // so the write fails as on a full disk.
    if (m_fileBlocks > 0)
        all = {"/bin/sh", "-c", "ulimit -f " + std::to_string(m_fileBlocks) + "; trap '' XFSZ; exec \"$0\" \"$@\"",
               TARVELCTL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<std::string> env{"XDG_CONFIG_HOME=" + m_dir + "/config", "XDG_DATA_HOME=" + m_dir + "/data"};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0 && std::strncmp(*e, "XDG_DATA_HOME=", 14) != 0)
            env.push_back(*e);
    std::vector<char*> argv, envp;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, m_dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = m_dir + "/.ctl-out", err = m_dir + "/.ctl-err";
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int slave = -1;
    if (m_stderrTerminal && m_terminal < 0 && ::openpty(&m_terminal, &slave, nullptr, nullptr, nullptr) == 0) {
        termios tio{};
        ::tcgetattr(slave, &tio);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        ::tcsetattr(slave, TCSANOW, &tio);
        ::fcntl(m_terminal, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_terminal, F_SETFL, O_NONBLOCK);
        posix_spawn_file_actions_adddup2(&actions, slave, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (slave >= 0) ::close(slave);
    return rc == 0 ? pid : -1;
#else
    (void)args;
    return -1;
#endif
}

TCtlResult CCtlRunner::Finish(pid_t pid, int timeoutMs, bool* hung) {
    TCtlResult r;
    if (hung) *hung = false;
    if (pid < 0) {
        if (m_terminal >= 0) ::close(m_terminal);
        m_terminal = -1;
        return r;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    // What the run writes to its terminal is taken as it comes: the
    // terminal's buffer is small.
    std::string terminal;
    auto drain = [&] {
        char buf[4096];
        ssize_t n;
        while (m_terminal >= 0 && (n = ::read(m_terminal, buf, sizeof buf)) > 0)
            terminal.append(buf, static_cast<std::size_t>(n));
    };
    for (;;) {
        drain();
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return r;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (hung) *hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    if (hung && *hung) r.status = -1;
    r.out = ReadWholeFile(m_dir + "/.ctl-out");
    if (m_terminal >= 0) {
        drain();
        ::close(m_terminal);
        m_terminal = -1;
        r.err = terminal;
    } else {
        r.err = ReadWholeFile(m_dir + "/.ctl-err");
    }
    return r;
}

std::string FileDigest(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "missing";
    std::uint64_t h = 1469598103934665603ull;
    std::size_t size = 0;
    for (std::istreambuf_iterator<char> it(in), end; it != end; ++it, ++size) {
        h ^= static_cast<unsigned char>(*it);
        h *= 1099511628211ull;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%016llx/%zu", static_cast<unsigned long long>(h), size);
    return text;
}
