#include "NetSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

// One line from fd, waiting up to timeoutMs in all.
std::string ReadLine(int fd, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return line;
        char c;
        if (::read(fd, &c, 1) != 1 || c == '\n') return line;
        line += c;
    }
}

}  // namespace

bool CClockSimChild::Start(const std::vector<std::string>& args, std::string& reason, const char* program) {
    Stop();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        reason = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int rc = ::posix_spawn(&m_pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        m_pid = -1;
        ::close(out[0]);
        reason = std::string("cannot run ") + program + ": " + std::strerror(rc);
        return false;
    }
    m_port = ReadLine(out[0], 20000);
    ::close(out[0]);
    if (m_port.empty()) {
        reason = std::string(program) + " printed no port";
        Stop();
        return false;
    }
    return true;
}

void CClockSimChild::Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(m_pid, nullptr, WNOHANG) != m_pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
}

void NetClockTest::SetUp() { m_ctl.WriteProfile("[Communication]\nAutoOpen=0\n"); }

void NetClockTest::ServeThroughSer2net(CSer2net::TAccepter accepter) {
    std::string reason;
    ASSERT_TRUE(m_clock.Start({"--save", EepromFile()}, reason)) << reason;
    if (!m_server.Start(m_clock.Port(), accepter, reason)) GTEST_SKIP() << "ser2net cannot run here: " << reason;
}

void NetClockTest::RoundTrip(const std::string& port) {
    const std::string file = File("clock.hcs"), back = File("back.hcs");
    TCtlResult r = m_ctl.Run({"--port", port, "read", "-o", file});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(m_ctl.Run({"get", file, "18"}).out, "777\n");

    r = m_ctl.Run({"set", file, "18=777", "37=5"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = m_ctl.Run({"--port", port, "write", file, "--countdown", "0"});
    ASSERT_EQ(r.status, 0) << r.err;

    r = m_ctl.Run({"--port", port, "read", "-o", back});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FileDigest(back), FileDigest(file));
    EXPECT_EQ(m_ctl.Run({"get", back, "18", "37"}).out, "777\n5\n");
    // What the clock stored in its EEPROM, not only what it holds now.
    EXPECT_EQ(m_ctl.Run({"get", EepromFile(), "18", "37"}).out, "777\n5\n");
}
