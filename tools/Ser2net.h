// ser2net (Debian's terminal server, 4.x) in front of a serial device on
// 127.0.0.1, for the network tests and measurements: a yaml configuration of
// its own, a free port, and the process stopped at the end.
#pragma once

#include <sys/types.h>

#include <string>

class CSer2net {
public:
    enum class TAccepter { Rfc2217, Raw };

    CSer2net() = default;
    ~CSer2net();  // stops it and removes its folder
    CSer2net(const CSer2net&) = delete;
    CSer2net& operator=(const CSer2net&) = delete;

    // The ser2net program: $TARVEL_SER2NET, else /usr/sbin/ser2net, else the
    // first one on PATH; empty when there is none.
    static std::string Program();

    // Serves device (9600 8N1, no modem lines) on a free port of 127.0.0.1
    // and returns once that port accepts connections. False with the reason
    // (ser2net's own output included) when it cannot be had.
    bool Start(const std::string& device, TAccepter accepter, std::string& reason);
    // The port name tarvel opens: rfc2217://127.0.0.1:PORT or tcp://...
    std::string PortName() const;
    int Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }
    bool Running() const { return m_pid > 0; }

    // Ends it as an operator would (SIGTERM), SIGKILL if it will not go.
    void Stop();
    // Ends it at once, as a crash or a pulled network cable would.
    void Kill();
    // What ser2net wrote on its standard output and error.
    std::string Log() const;

private:
    bool Listening() const;
    bool Reap(int timeoutMs);

    std::string m_dir;
    TAccepter m_accepter = TAccepter::Rfc2217;
    int m_port = 0;
    pid_t m_pid = -1;
};
