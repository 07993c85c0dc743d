#include "CtlRunner.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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
    std::map<std::string, std::string> vars{{"XDG_CONFIG_HOME", m_dir + "/config"}, {"XDG_DATA_HOME", m_dir + "/data"}};
    for (const auto& [name, value] : m_env) vars[name] = value;
    std::vector<std::string> env;
    for (const auto& [name, value] : vars) env.push_back(name + "=" + value);
    for (char** e = environ; *e; ++e)
        if (!vars.count(std::string(*e, std::strcspn(*e, "=")))) env.push_back(*e);
    std::vector<char*> argv, envp;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    // Overlapping runs: the first keeps the plain names, later ones a number.
    const std::string suffix = m_runs.empty() ? "" : "." + std::to_string(++m_seq);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, (m_workDir.empty() ? m_dir : m_workDir).c_str());
    posix_spawn_file_actions_addopen(&actions, 0, m_stdin.c_str(), O_RDONLY, 0);
    const std::string out = m_stdout.empty() ? m_dir + "/.ctl-out" + suffix : m_stdout;
    int pipeFds[2] = {-1, -1};
    if (m_stdoutPipe && m_pipe < 0 && ::pipe2(pipeFds, O_CLOEXEC) == 0) {
        m_pipe = pipeFds[0];
        ::fcntl(m_pipe, F_SETFL, O_NONBLOCK);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    const std::string err = m_dir + "/.ctl-err" + suffix;
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
    // Ctrl-C, SIGTERM and SIGHUP reach the program with their usual meaning,
    // whatever the test runner blocks or ignores.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, stops;
    sigemptyset(&none);
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &stops);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (slave >= 0) ::close(slave);
    if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    if (rc == 0) m_runs[pid] = suffix;
    return rc == 0 ? pid : -1;
#else
    (void)args;
    return -1;
#endif
}

bool CCtlRunner::WaitForErr(pid_t pid, const std::vector<std::string>& texts, int timeoutMs) const {
    const auto run = m_runs.find(pid);
    if (run == m_runs.end()) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::string err = ReadWholeFile(m_dir + "/.ctl-err" + run->second);
        if (std::all_of(texts.begin(), texts.end(), [&](const auto& t) { return err.find(t) != std::string::npos; }))
            return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TCtlResult CCtlRunner::Finish(pid_t pid, int timeoutMs, bool* hung) {
    TCtlResult r;
    if (hung) *hung = false;
    // What the run writes to its terminal or pipe is taken as it comes:
    // their buffers are small.
    std::string terminal, piped;
    auto drain = [&] {
        char buf[4096];
        ssize_t n;
        while (m_terminal >= 0 && (n = ::read(m_terminal, buf, sizeof buf)) > 0)
            terminal.append(buf, static_cast<std::size_t>(n));
        while (m_pipe >= 0 && (n = ::read(m_pipe, buf, sizeof buf)) > 0) piped.append(buf, static_cast<std::size_t>(n));
    };
    auto close = [](int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    };
    const auto run = m_runs.find(pid);
    if (pid < 0 || run == m_runs.end()) {
        close(m_terminal);
        close(m_pipe);
        return r;
    }
    const std::string suffix = run->second;
    m_runs.erase(run);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
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
    drain();
    r.out = m_pipe >= 0 ? piped : m_stdout.empty() ? ReadWholeFile(m_dir + "/.ctl-out" + suffix) : "";
    r.err = m_terminal >= 0 ? terminal : ReadWholeFile(m_dir + "/.ctl-err" + suffix);
    close(m_terminal);
    close(m_pipe);
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
