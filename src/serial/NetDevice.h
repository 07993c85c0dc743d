// Serial ports on the network: a terminal server's port reached over TCP.
// "tcp://HOST:PORT" carries the bytes as they are (raw TCP);
// "rfc2217://HOST:PORT" speaks Telnet with Com Port Control, so the line
// settings, break and purges reach the server's serial line
// (Rfc2217Device.h). An IPv6 address goes in brackets: tcp://[::1]:4001.
//
// The socket is never waited on without a bound: the connection is made
// without blocking, and an I/O thread of the device's own moves what arrives
// into a pipe. The pipe is what Wait watches for input, so the port's reader
// sees exactly the serial data, and a hang-up when the connection is gone, as
// on a tty.
//
// The link's round trip is measured and kept: at open from the connection
// (the kernel's estimate, or the RFC 2217 negotiation), then from the serial
// exchanges: the time from a Write to the answer of its first byte (a clock
// echoes every byte it takes). It rises at once to a longer exchange and
// comes down slowly; an exchange of more than a few seconds is a clock that
// was silent, not a slow link, and does not count.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "PollWait.h"
#include "SerialDevice.h"

// What a network port name says.
struct TNetPortName {
    bool rfc2217 = false;
    std::string host;  // without brackets
    std::string port;  // decimal, 1..65535
};

// True for a name with one of the network schemes, well formed or not.
bool IsNetworkPortName(const std::string& name);
// False (EINVAL) for a name that is not scheme://HOST:PORT.
bool ParseNetworkPortName(const std::string& name, TNetPortName& parsed);
// A fresh, unopened device for a network port name: RFC 2217 or raw TCP.
std::shared_ptr<CSerialDevice> MakeNetworkDevice(const std::string& name);
// "scheme://host:port" in lower case, an IPv6 host in brackets.
std::string NetPortKey(const TNetPortName& name);

// Milliseconds left until deadline (as NowMs gives it), 0 once it has passed.
int NetWaitMs(long long deadline);
// A connected, non-blocking socket to the name's host and port, made by the
// deadline; -1 with errno (a name that is not found as ENXIO, a name server
// that does not answer as EAGAIN).
int ConnectTcp(const TNetPortName& name, long long deadline);

class CNetDevice : public CSerialDevice {
public:
    ~CNetDevice() override;
    CNetDevice(const CNetDevice&) = delete;
    CNetDevice& operator=(const CNetDevice&) = delete;

    // Fails with errno: EINVAL for a malformed name, ENXIO for a host that
    // cannot be found, EAGAIN when the name server did not answer,
    // ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH and the like from the
    // connection, EBUSY when this program has the port open already.
    bool Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override;
    bool GetLineState(TLineSettings& line) override;
    bool SetLineState(const TLineSettings& line) override;
    // Once the connection is gone and its data read: -1 with ECONNRESET (or
    // the socket's own error).
    ssize_t Read(unsigned char* buf, std::size_t size) override;
    ssize_t Write(const unsigned char* buf, std::size_t size) override;
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override;
    void InterruptWait() override { m_interrupt.Raise(); }
    bool Drain(unsigned stallMs) override;
    bool Purge(bool input, bool output) override;
    bool QueuedInput(unsigned& count) override;
    bool GetErrorCounts(TErrorCounts& counts) override;
    unsigned RoundTripMs() const override;
    bool IsNetworkLink() const override { return true; }

    // As Open, on a socket already connected to the server (a test's or a
    // fuzzer's socket pair); the device owns sock from here on, also when
    // this fails.
    bool OpenConnected(int sock, const std::string& path);
    // "the terminal server turned the connection away: Port already in use"
    // after an Open that failed so.
    std::string OpenFailureNote() const override { return m_openFailureNote; }

    // Bounds of the waits at open: the connection, and the server's first answer.
    void SetOpenTimeouts(int connectMs, int answerMs) {
        m_connectMs = connectMs;
        m_answerMs = answerMs;
    }

protected:
    CNetDevice() = default;

    // After the connection is made, the I/O thread running: false with errno
    // to refuse it.
    virtual bool Handshake(long long deadline) = 0;
    // Whether a handshake that succeeded shows the server took us on (it
    // negotiated), so no turn-away need be waited for after it.
    virtual bool HandshakeAccepts() const { return false; }
    // Takes the bytes received; appends the serial data among them to data.
    // On the I/O thread.
    virtual void Received(const unsigned char* bytes, std::size_t size, std::string& data) = 0;
    // The bytes that carry size serial bytes on the connection.
    virtual std::string Encode(const unsigned char* buf, std::size_t size) = 0;
    // The line settings, checked and kept; the protocol may pass them on.
    virtual bool ApplyLineState(const TLineSettings& line) = 0;
    virtual bool PurgeFar(bool input, bool output) = 0;

    // Queues bytes for the connection and sends what it takes now; false
    // with errno once it is gone.
    bool SendRaw(const std::string& bytes);
    // The monotonic clock in microseconds, as the round trip is measured.
    static long long NowUs();
    // A round trip measured by the protocol at open; a longer one than a
    // link can have is left out.
    void SetOpeningRoundTrip(long long us);
    // Locked by the protocol's state; the I/O thread's cv is told on every change.
    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    TLineSettings m_line;        // under m_stateMutex
    std::atomic<int> m_gone{0};  // the connection's end: its errno, 0 while it lasts
    const TNetPortName& Name() const { return m_name; }

private:
    // Open's work; sock < 0: connect to the name.
    bool OpenOn(const std::string& path, int sock);
    // One connection and its handshake; turnedAway set (with errno
    // ECONNREFUSED) when the server closed it at once.
    bool ConnectOnce(int sock, bool& turnedAway);
    // After the handshake: whether the server closed the connection at once
    // (a terminal server serving another client does so), waiting up to ms.
    // What it said before is kept in m_openFailureNote.
    bool TurnedAway(int ms);
    bool Connect(const TNetPortName& name, long long deadline);
    // The round trip (NetRoundTrip.cpp): the kernel's estimate for a
    // connected socket (-1 when it has none); a sample started by a Write of
    // count bytes (its start, or -1 when one runs already), dropped when the
    // Write failed, given up by a purge of the input, and ended by the
    // serial data that answers it.
    static long long KernelRoundTripUs(int sock);
    void ResetRoundTrip();
    long long StartRoundTripSample(std::size_t count);
    void DropRoundTripSample(long long started);
    void PurgedRoundTripSample();
    void EndRoundTripSample(std::size_t count);
    // Ends the connection; unclaim: the port name too (not between two tries).
    void Release(bool unclaim = true);
    void IoLoop();
    // Sends queued output under m_outMutex; false with errno when the connection failed.
    bool FlushOutLocked();
    void Wake();
    void Gone(int err);
    bool OpenCheck() const;

    TNetPortName m_name;
    std::string m_claim;  // the name this program holds open
    int m_connectMs = 5000;
    int m_answerMs = 3000;
    std::string m_openFailureNote;
    std::atomic<int> m_sock{-1};
    int m_pipeRead = -1;
    int m_pipeWrite = -1;  // the I/O thread's; closed when the connection is gone
    int m_wakeFd = -1;     // the I/O thread's
    CPollInterrupt m_interrupt;  // the waits', for the device's whole life
    std::atomic<bool> m_stop{false};
    std::thread m_io;
    std::mutex m_outMutex;
    std::string m_outPending;  // under m_outMutex: taken from Write, not yet in the socket
    std::mutex m_inMutex;
    std::string m_inPending;  // under m_inMutex: received, not yet in the pipe
    std::atomic<unsigned> m_roundTripUs{0};  // the estimate; changed under m_sampleMutex
    struct TSample {
        long long since = -1;                 // the Write it runs from (NowUs), -1: none
        unsigned long long until = 0;         // ended once this many serial bytes came
        unsigned long long written = 0, received = 0;  // serial bytes so far
    };
    std::mutex m_sampleMutex;
    TSample m_sample;  // under m_sampleMutex
};

// Raw TCP: the bytes as they are. Line settings stay here (the server's own
// apply), and a break cannot be sent: SetBreak does nothing.
class CTcpDevice : public CNetDevice {
public:
    CTcpDevice() = default;
    ~CTcpDevice() override;
    bool SetBreak(bool on) override;
    std::string OpenNotice() const override;

protected:
    bool Handshake(long long) override { return true; }
    void Received(const unsigned char* bytes, std::size_t size, std::string& data) override;
    std::string Encode(const unsigned char* buf, std::size_t size) override;
    bool ApplyLineState(const TLineSettings&) override { return true; }
    bool PurgeFar(bool, bool) override { return true; }
};
