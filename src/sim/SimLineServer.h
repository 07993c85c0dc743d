// Serves the simulated clock's line on its own thread: the master side of a
// pseudo-terminal (Start), raw TCP with one client at a time (Listen), or
// the far end of a line inside the process (StartInProcess).
// What comes in goes to the protocol; what the clock says leaves when due.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

#include "SimProtocol.h"

class CSimInProcessLine;
class CSimOutput;

class CSimLineServer {
public:
    using TClock = std::chrono::steady_clock;

    CSimLineServer(CSimProtocol& protocol, CSimOutput& output) : m_protocol(protocol), m_output(output) {}
    ~CSimLineServer() { Stop(); }
    CSimLineServer(const CSimLineServer&) = delete;
    CSimLineServer& operator=(const CSimLineServer&) = delete;

    // Creates the pseudo-terminal and starts serving it; false (see
    // LastError) when the system refuses one.
    bool Start();
    // Serves on TCP instead: listens on host:port (port 0: a free one). One
    // client is served at a time; another that connects meanwhile is closed
    // at once, and a new one may come when the client leaves. Each new client
    // finds the clock ready for a command, as a break would leave it.
    bool Listen(const std::string& host, std::uint16_t port);
    // Serves a line inside the process instead (SimInProcessLine.h), for the
    // "SIM" port; Stop hangs it up.
    bool StartInProcess();
    // That line while it is served; null otherwise.
    std::shared_ptr<CSimInProcessLine> InProcessLine() const { return m_inProcess; }
    // Ends the serving thread and closes the device; the program's side then
    // sees a hang-up, as with an unplugged cable.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }
    // "HOST:PORT" with the port really bound ("[::1]:PORT" for IPv6); empty
    // when not listening.
    std::string ListenAddress() const;
    // The slave device to open, e.g. "/dev/pts/7"; empty when not started.
    std::string DevicePath() const { return m_devicePath; }
    std::string LastError() const { return m_lastError; }

    // The rate the program set the pseudo-terminal (or the in-process line)
    // to; on TCP, where there is no line to set, the clock's factory 9600
    // baud. Serving thread only.
    TSimLineRate LineRate() const;

    // Bytes taken from the line and dealt with, the answers due at once (the
    // echoes) written back; counted from Start.
    std::uint64_t BytesAnswered() const;
    // Waits until BytesAnswered() reaches count; false when timeoutMs ran out
    // or the clock stopped first.
    bool WaitAnswered(std::uint64_t count, int timeoutMs) const;

    // Called on the serving thread when a TCP client comes, leaves or is
    // turned away, with a line saying so. Set it before Listen.
    void SetClientHandler(std::function<void(const std::string&)> handler) { m_onClient = std::move(handler); }

private:
    bool StartServing();
    void Serve();
    void ServeInProcess();
    // What falls due by now: half commands dropped, output written (blocked
    // set when the line took not all of it), what was answered told. Gives
    // when the next thing falls due.
    std::optional<TClock::time_point> ServeDue(TClock::time_point now, bool& blocked);
    void CloseAll();
    void AcceptClient();
    void DropClient(const std::string& why);  // "left", "lost: reason"
    ssize_t WriteLine(const char* data, std::size_t size);
    bool WriteDueOutput(TClock::time_point now);
    void SetServing(bool serving);

    CSimProtocol& m_protocol;
    CSimOutput& m_output;
    std::function<void(const std::string&)> m_onClient;

    // Owned by the serving thread while it runs.
    int m_masterFd = -1;
    int m_listenFd = -1;
    int m_clientFd = -1;
    int m_lineFd = -1;  // the master or the client: where the clock's bytes go
    std::string m_clientName;
    int m_slaveFd = -1;
    int m_wakeFd = -1;
    int m_watchFd = -1;
    std::shared_ptr<CSimInProcessLine> m_inProcess;
    std::atomic<bool> m_stopServing{false};
    std::string m_devicePath;
    std::string m_lastError;
    std::thread m_thread;
    std::uint64_t m_bytesRead = 0;

    // What the serving thread has answered, for WaitAnswered.
    mutable std::mutex m_answerMutex;
    mutable std::condition_variable m_answerCv;
    std::uint64_t m_bytesAnswered = 0;
    bool m_serving = false;
};
