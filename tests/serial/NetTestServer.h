// A terminal server in the test's own process: a loopback listener whose
// thread takes one connection at a time, keeps every byte received, and
// plays the Telnet side as the test asks (answer the options or not, answer
// the Com Port commands or not, echo the data as a clock does, answer late
// as a server far away does).
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TelnetStream.h"

struct TNetServerBehaviour {
    bool telnet = true;           // decode Telnet and answer options
    bool answerOptions = true;    // agree to BINARY, SGA and COM-PORT-OPTION
    bool refuseComPort = false;   // DONT COM-PORT-OPTION instead
    bool answerSettings = true;   // answer SET-BAUDRATE etc. with the value set
    std::uint32_t forcedRate = 0; // answer this rate whatever was asked
    bool readInput = true;        // false: never read, as a stalled server
    bool echo = false;            // send the serial data back, as a clock echoes
    int delayMs = 0;              // answers and echoes leave this long after what they answer
};

class CNetTestServer {
public:
    using TBehaviour = TNetServerBehaviour;

    explicit CNetTestServer(TBehaviour behaviour = TBehaviour()) : m_how(behaviour), m_delayMs(behaviour.delayMs) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
            ::listen(m_listen, 4) < 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) < 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_thread = std::thread([this] { Run(); });
    }
    ~CNetTestServer() {
        const std::uint64_t one = 1;
        if (m_stopFd >= 0) [[maybe_unused]] ssize_t n = ::write(m_stopFd, &one, sizeof one);
        if (m_thread.joinable()) m_thread.join();
        if (m_client >= 0) ::close(m_client);
        if (m_listen >= 0) ::close(m_listen);
        if (m_stopFd >= 0) ::close(m_stopFd);
    }
    CNetTestServer(const CNetTestServer&) = delete;
    CNetTestServer& operator=(const CNetTestServer&) = delete;

    bool Ok() const { return m_port != 0; }
    std::string Name(const char* scheme = "rfc2217") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port);
    }
    int Connections() const { return m_connections; }
    // From now on answers and echoes leave this long after what they answer.
    void SetDelay(int ms) { m_delayMs = ms; }

    // Waits up to timeoutMs for a client: a raw connection is made before
    // this server's thread has taken it.
    bool HasClient(int timeoutMs = 10000) const {
        return WaitFor([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_client >= 0;
        }, timeoutMs);
    }
    // To the client as they are (Telnet escaping is the caller's).
    bool Send(const std::string& bytes) {
        HasClient();
        std::lock_guard<std::mutex> lock(m_mutex);
        return SendLocked(bytes);
    }
    // Closes the client's connection; the next one is accepted.
    void HangUp() {
        HasClient();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_client >= 0) ::close(m_client);
        m_client = -1;
    }
    // Every byte the client sent, commands included.
    std::string Raw() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_raw;
    }
    void ClearRaw() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_raw.clear();
    }
    // The serial data the client sent, Telnet removed.
    std::string Data() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_data;
    }
    // Waits up to timeoutMs for done.
    template <typename F>
    bool WaitFor(F done, int timeoutMs = 10000) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool WaitForRaw(const std::string& part, int timeoutMs = 10000) const {
        return WaitFor([&] { return Raw().find(part) != std::string::npos; }, timeoutMs);
    }

private:
    bool SendLocked(const std::string& bytes) {
        std::size_t done = 0;
        while (m_client >= 0 && done < bytes.size()) {
            const ssize_t n = ::send(m_client, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return m_client >= 0;
    }

    // An answer: now, or once the delay has passed.
    void Reply(const std::string& bytes) {
        const int delay = m_delayMs;
        if (delay <= 0 && m_later.empty()) {
            SendLocked(bytes);
            return;
        }
        m_later.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delay), bytes});
    }
    // Sends the answers that are due; the ms until the next one, or -1.
    int SendDue() {
        const auto now = std::chrono::steady_clock::now();
        while (!m_later.empty() && m_later.front().first <= now) {
            SendLocked(m_later.front().second);
            m_later.pop_front();
        }
        if (m_later.empty()) return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_later.front().first - now).count();
        return static_cast<int>(std::max<long long>(1, left));
    }

    void Answer(const Telnet::TEvent& e) {
        using namespace Telnet;
        if (!m_how.answerOptions) return;
        if (e.verb == WILL && e.option == OPT_COM_PORT)
            Reply(Command(m_how.refuseComPort ? DONT : DO, e.option));
        else if (e.verb == WILL)
            Reply(Command(e.option == OPT_BINARY || e.option == OPT_SGA ? DO : DONT, e.option));
        else if (e.verb == DO)
            Reply(Command(e.option == OPT_BINARY || e.option == OPT_SGA ? WILL : WONT, e.option));
        else if (e.verb == SB && e.option == OPT_COM_PORT && m_how.answerSettings && !e.payload.empty() &&
                 e.payload[0] >= CPC_SET_BAUDRATE && e.payload[0] <= CPC_SET_STOPSIZE) {
            std::vector<std::uint8_t> answer = e.payload;
            answer[0] = static_cast<std::uint8_t>(answer[0] + CPC_SERVER_OFFSET);
            if (e.payload[0] == CPC_SET_BAUDRATE && m_how.forcedRate && answer.size() == 5) {
                for (int i = 0; i < 4; ++i) answer[1 + i] = static_cast<std::uint8_t>(m_how.forcedRate >> (24 - 8 * i));
            }
            Reply(Subnegotiation(OPT_COM_PORT, answer));
        }
    }

    void Run() {
        for (;;) {
            int client;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                client = m_client;
            }
            int due;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                due = SendDue();
            }
            const bool reading = client >= 0 && m_how.readInput;
            pollfd fds[3] = {{m_stopFd, POLLIN, 0}, {m_listen, POLLIN, 0}, {reading ? client : -1, POLLIN, 0}};
            if (::poll(fds, 3, due < 0 ? 20 : std::min(due, 20)) < 0) continue;
            if (fds[0].revents) return;
            std::lock_guard<std::mutex> lock(m_mutex);
            SendDue();
            if (fds[1].revents & POLLIN) {
                const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    if (m_client >= 0) ::close(m_client);
                    m_client = fd;
                    m_decoder.Reset();
                    m_later.clear();
                    ++m_connections;
                }
                continue;
            }
            if (!reading || m_client != client || !(fds[2].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            unsigned char buf[4096];
            const ssize_t n = ::recv(client, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    ::close(m_client);
                    m_client = -1;
                }
                continue;
            }
            m_raw.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
            if (!m_how.telnet) {
                m_data.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
                if (m_how.echo) Reply(std::string(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n)));
                continue;
            }
            std::vector<Telnet::TEvent> events;
            m_decoder.SetBinaryIn(true);
            const std::size_t before = m_data.size();
            m_decoder.Feed(buf, static_cast<std::size_t>(n), m_data, events);
            for (const auto& e : events) Answer(e);
            if (m_how.echo && m_data.size() > before)
                Reply(Telnet::Escape(reinterpret_cast<const std::uint8_t*>(m_data.data()) + before, m_data.size() - before));
        }
    }

    TBehaviour m_how;
    int m_listen = -1;
    int m_stopFd = -1;
    int m_port = 0;
    mutable std::mutex m_mutex;
    int m_client = -1;  // under m_mutex
    std::string m_raw;  // under m_mutex
    std::string m_data; // under m_mutex
    Telnet::CDecoder m_decoder;
    std::atomic<int> m_delayMs{0};
    // Under m_mutex: answers waiting for their time, in order.
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> m_later;
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};
