// link-delay between the test's own client and server: bytes pass whole and
// in order each way, never sooner than the delay, and so does the end of a
// stream; SIGTERM ends it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <string>

extern char** environ;

namespace {

using namespace std::chrono;
constexpr int ONE_WAY_MS = 150;

// Up to `size` bytes from fd (all of them unless the stream ends or 20 s
// pass); `first`: when the first came.
std::string ReadFor(int fd, std::size_t size, steady_clock::time_point& first) {
    const auto deadline = steady_clock::now() + seconds(20);
    std::string got;
    char buf[8192];
    while (got.size() < size) {
        pollfd p{fd, POLLIN, 0};
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        const ssize_t n = ::read(fd, buf, std::min(sizeof(buf), size - got.size()));
        if (n <= 0) break;
        if (got.empty()) first = steady_clock::now();
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

// The first line the program prints (20 s at most).
std::string FirstLine(int fd) {
    steady_clock::time_point unused;
    std::string line;
    for (std::string c; (c = ReadFor(fd, 1, unused)) != "" && c != "\n";) line += c;
    return line;
}

int Loopback(int port, bool listening) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = listening ? ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && ::listen(fd, 1) == 0
                              : ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    if (!ok) ::close(fd);
    return ok ? fd : -1;
}

// The proxy, ended with SIGTERM however the test ends; its exit status.
struct TChild {
    pid_t pid = -1;
    int Stop() {
        int status = -1;
        if (pid > 0 && ::kill(pid, SIGTERM) == 0 && ::waitpid(pid, &status, 0) == pid) pid = -1;
        return status;
    }
    ~TChild() { Stop(); }
};

int PortOf(int fd) {
    sockaddr_in addr{};
    socklen_t size = sizeof(addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    return ntohs(addr.sin_port);
}

}  // namespace

TEST(LinkDelay, PassesEveryByteAndTheEndOfTheStreamNoSoonerThanTheDelay) {
    const int listener = Loopback(0, true);
    ASSERT_GE(listener, 0);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    std::string target = "127.0.0.1:" + std::to_string(PortOf(listener)), delay = std::to_string(ONE_WAY_MS);
    std::string program = LINK_DELAY_PATH, listen = "127.0.0.1:0";
    char* argv[] = {program.data(), listen.data(), target.data(), delay.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    TChild proxy;
    ASSERT_EQ(::posix_spawn(&proxy.pid, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    const std::string line = FirstLine(out[0]);
    ::close(out[0]);
    const std::size_t colon = line.rfind(':');
    ASSERT_NE(colon, std::string::npos) << line;

    const int client = Loopback(std::stoi(line.substr(colon + 1)), false);
    ASSERT_GE(client, 0);
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(server, 0);

    steady_clock::time_point first;
    std::string payload(100000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 % 251);
    for (const auto& [from, to] : {std::pair{client, server}, std::pair{server, client}}) {
        const auto sent = steady_clock::now();
        ASSERT_EQ(::send(from, payload.data(), payload.size(), MSG_NOSIGNAL), static_cast<ssize_t>(payload.size()));
        EXPECT_EQ(ReadFor(to, payload.size(), first), payload);
        EXPECT_GE(first - sent, milliseconds(ONE_WAY_MS));
    }
    // The end of the stream is held as long as the bytes before it.
    const auto ended = steady_clock::now();
    ::shutdown(client, SHUT_WR);
    pollfd p{server, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1);
    EXPECT_GE(steady_clock::now() - ended, milliseconds(ONE_WAY_MS));
    char byte;
    EXPECT_EQ(::recv(server, &byte, 1, 0), 0);
    ::close(server);
    EXPECT_EQ(ReadFor(client, 1, first), "");

    const int status = proxy.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(client);
    ::close(listener);
}
