// Several --port for one command: each port is served by a tarvelctl of its
// own, started from this program's file with the same options and that one
// port, all at once. The port layer has process-wide parts (the Ctrl-C
// handler, the sleep, its reporters on stderr), so a process per port keeps
// the clocks apart where threads would share them. A thread per child relays
// its lines, each prefixed with the port; with --json their documents are
// gathered into one, printed when all are done.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CtlCommand.h"
#include "CtlJson.h"
#include "TextUtil.h"

extern char** environ;

namespace {

constexpr const char* kSelf = "/proc/self/exe";
constexpr std::size_t kMaxChildren = 256;
// What one child may print for the gathered document; more is not JSON of ours.
constexpr std::size_t kMaxCaptured = 16u << 20;
// The signals passed on to the children: Ctrl-C, and what systemd, a timeout
// or a dropped SSH session sends.
constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP};

std::mutex g_outputMutex;
// The children, for the Ctrl-C handler: plain data it may read.
volatile sig_atomic_t g_childPids[kMaxChildren];
std::atomic<int> g_childCount{0};
struct sigaction g_previousActions[std::size(kForwarded)];

// Ctrl-C or a hang-up at the terminal reaches every child by itself, as they
// share our process group; a signal sent to this process alone is passed on.
// Either way this process waits for the children to finish and say what they
// did.
void OnInterrupt(int signal, siginfo_t* info, void*) {
    if (info && info->si_code == SI_KERNEL) return;
    const int savedErrno = errno;
    const int count = g_childCount.load();
    for (int i = 0; i < count && i < static_cast<int>(kMaxChildren); ++i)
        if (g_childPids[i] > 0) ::kill(static_cast<pid_t>(g_childPids[i]), signal);
    errno = savedErrno;
}

bool IsSwitch(const std::string& name, const std::vector<TCtlOption>& a, const std::vector<TCtlOption>& b) {
    for (const auto* list : {&a, &b})
        for (const auto& o : *list)
            if (name == o.longName) return o.valueName == nullptr;
    return false;
}

void AppendOptions(std::vector<std::string>& out, const CCommandLine& line, const std::vector<TCtlOption>& a,
                   const std::vector<TCtlOption>& b, const std::set<std::string>& leaveOut) {
    for (const auto& [name, values] : line.GetOptions()) {
        if (leaveOut.count(name)) continue;
        for (const auto& value : values)
            out.push_back(IsSwitch(name, a, b) ? "--" + name : "--" + name + "=" + value);
    }
}

// Whole lines with the prefix; a carriage return (a countdown redrawn in
// place) ends a line too, its padding dropped.
class CRelay {
public:
    // keep: also gathers the lines, unprefixed.
    CRelay(std::string prefix, FILE* to, std::vector<std::string>* keep = nullptr)
        : m_prefix(std::move(prefix)), m_to(to), m_keep(keep) {}
    void Take(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n' || c == '\r') {
                if (!(m_line.empty() && c == '\n' && m_lastWasReturn)) Emit();
                m_lastWasReturn = c == '\r';
                continue;
            }
            m_lastWasReturn = false;
            m_line += c;
        }
    }
    void Finish() {
        if (!m_line.empty()) Emit();
    }

private:
    void Emit() {
        while (!m_line.empty() && m_line.back() == ' ') m_line.pop_back();
        if (m_keep && m_keep->size() < 1000) m_keep->push_back(m_line);
        const std::string text = m_prefix + m_line + "\n";
        m_line.clear();
        std::lock_guard lock(g_outputMutex);
        std::fwrite(text.data(), 1, text.size(), m_to);
        std::fflush(m_to);
    }

    std::string m_prefix;
    FILE* m_to;
    std::vector<std::string>* m_keep;
    std::string m_line;
    bool m_lastWasReturn = false;
};

// What one child left for the gathered document.
struct TPortOutput {
    std::string out;                   // its standard output, as it is
    std::vector<std::string> errLines;  // its standard error, by line
};

// Runs one child to its end; its exit status (1 when it could not run or died).
// captured: takes the child's standard output instead of relaying it, and
// its standard error's lines besides.
int ServePort(const std::string& port, const std::vector<std::string>& childArgs, int slot, TPortOutput* captured) {
    const std::string prefix = VisibleText(port) + ": ";
    CRelay out(prefix, stdout);
    CRelay err(prefix, stderr, captured ? &captured->errLines : nullptr);
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        err.Take("cannot start: ", 14);
        err.Take(std::strerror(errno), std::strlen(std::strerror(errno)));
        err.Finish();
        return CTL_FAILED;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return CTL_FAILED;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("tarvelctl"));
    for (const auto& a : childArgs) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    // The children take Ctrl-C as a single tarvelctl does.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : kForwarded) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, kSelf, &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        const std::string why = std::string("cannot start tarvelctl: ") + std::strerror(spawned);
        err.Take(why.data(), why.size());
        err.Finish();
        return CTL_FAILED;
    }
    if (slot < static_cast<int>(kMaxChildren)) g_childPids[slot] = pid;

    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    CRelay* relays[2] = {&out, &err};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0 && i == 0 && captured) {
                if (captured->out.size() < kMaxCaptured) captured->out.append(buf, static_cast<std::size_t>(n));
            } else if (n > 0) {
                relays[i]->Take(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    out.Finish();
    err.Finish();

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (slot < static_cast<int>(kMaxChildren)) g_childPids[slot] = 0;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return CTL_FAILED;
}

// A folder for the files, made when missing.
bool MakeFolder(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        ReportError(dir + " is not a folder: with several ports, -o names the folder for one setup file per port");
        return false;
    }
    if (::mkdir(dir.c_str(), 0777) == 0) return true;
    ReportError("cannot create the folder " + dir + ": " + std::strerror(errno));
    return false;
}

// One document for all ports (see docs/json.md): each port's own document,
// or its error, under its name.
nlohmann::ordered_json GatherJson(const std::string& name, const std::vector<std::string>& ports,
                                  const std::vector<int>& results, const std::vector<TPortOutput>& outputs) {
    nlohmann::ordered_json doc = JsonDocument(name);
    nlohmann::ordered_json each = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        nlohmann::ordered_json result = nlohmann::ordered_json::parse(outputs[i].out, nullptr, false);
        if (result.is_discarded() || !result.is_object()) result = nullptr;
        // The child's own name of the command ("time get") where it gave one.
        if (result.is_object() && result.contains("command") && result["command"].is_string())
            doc["command"] = result["command"];
        std::string error;
        for (const auto& line : outputs[i].errLines) {
            const std::string text = line.rfind("tarvelctl: ", 0) == 0 ? line.substr(11) : line;
            error += (error.empty() ? "" : "\n") + text;
        }
        nlohmann::ordered_json entry = {{"status", results[i]}, {"result", result}};
        entry["error"] = error.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(error);
        each[ports[i]] = std::move(entry);
    }
    doc["ports"] = std::move(each);
    return doc;
}

}  // namespace

std::string PortFileName(const std::string& port) {
    std::string name = port;
    if (name.compare(0, 5, "/dev/") == 0) name.erase(0, 5);
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (!plain) c = '_';
    }
    // Never hidden, never "." or "..".
    if (name.empty() || name[0] == '.') name.insert(0, "port");
    return name;
}

int RunManyPorts(const TCtlCommand& command, const std::vector<TCtlOption>& globalOptions, const CCommandLine& global,
                 const CCommandLine& args, const std::vector<std::string>& ports) {
    if (ports.size() > kMaxChildren) return ReportUsage(command.name, "too many ports");
    const bool perPortFile = args.Has("output");
    const std::string dir = args.GetValue("output");
    if (perPortFile && !MakeFolder(dir)) return CTL_FAILED;

    // Each port's own trace file beside the one named: FILE.PORT.
    const bool traced = args.Has("trace") || global.Has("trace");
    const std::string trace = args.Has("trace") ? args.GetValue("trace") : global.GetValue("trace");

    std::vector<std::vector<std::string>> childArgs;
    std::set<std::string> names;
    for (const auto& port : ports) {
        std::string base = PortFileName(port);
        std::string name = base;
        for (int n = 2; !names.insert(name).second; ++n) name = base + "-" + std::to_string(n);
        std::vector<std::string> a{"--port=" + port};
        AppendOptions(a, global, globalOptions, command.options, {"port", "trace"});
        a.push_back(command.name);
        AppendOptions(a, args, globalOptions, command.options, {"port", "output", "trace"});
        if (perPortFile) a.push_back("--output=" + dir + "/" + name + ".hcs");
        if (traced) a.push_back("--trace=" + trace + "." + name);
        a.push_back("--");
        for (const auto& arg : args.GetArgs()) a.push_back(arg);
        childArgs.push_back(std::move(a));
    }

    struct sigaction action {};
    action.sa_sigaction = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    bool handled[std::size(kForwarded)] = {};
    for (std::size_t i = 0; i < std::size(kForwarded); ++i)
        handled[i] = ::sigaction(kForwarded[i], &action, &g_previousActions[i]) == 0;

    const bool json = args.Has("json");
    std::vector<int> results(ports.size(), CTL_FAILED);
    std::vector<TPortOutput> outputs(ports.size());
    std::vector<std::thread> threads;
    g_childCount = static_cast<int>(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([&, i] {
            results[i] = ServePort(ports[i], childArgs[i], static_cast<int>(i), json ? &outputs[i] : nullptr);
        });
    for (auto& t : threads) t.join();
    g_childCount = 0;
    for (std::size_t i = 0; i < std::size(kForwarded); ++i)
        if (handled[i]) ::sigaction(kForwarded[i], &g_previousActions[i], nullptr);

    int worst = CTL_DONE;
    for (int r : results) worst = std::max(worst, r);
    if (json && !WriteJson(GatherJson(command.name, ports, results, outputs))) return std::max(worst, CTL_FAILED);
    return worst;
}
