// The command writer pauses "CharDelay" after each byte and then awaits a
// late echo for about a second more. On a heavily loaded machine the
// simulated clock's thread may take longer still; the writer would then send
// the byte again and the clock would see it twice. A device of the tests can
// wait for a one-byte read (an echo) up to a more generous bound: an echo
// that comes at once costs nothing, only a missing echo costs the bound, so
// tests of missing echoes turn the patience off.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>

#include "CommPort.h"
#include "PortCatalogue.h"
#include "SerialDevice.h"
#include "TermiosDevice.h"

constexpr int kEchoPatienceMs = 5000;

// One read from inner; a one-byte read that finds nothing waits up to
// patienceMs for the byte.
inline ssize_t ReadWithEchoPatience(CSerialDevice& inner, unsigned char* buf, std::size_t size, int patienceMs) {
    ssize_t n = inner.Read(buf, size);
    // Nothing yet: a raw tty reads 0 (VMIN and VTIME are 0), others fail with EAGAIN.
    const bool nothing = n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    if (size != 1 || patienceMs <= 0 || !nothing) return n;
    if (!HasAny(inner.Wait(TDeviceEvents::Input, patienceMs), TDeviceEvents::Input | TDeviceEvents::HungUp)) return n;
    return inner.Read(buf, size);
}

// The patience of the ports offered by RegisterPatientPort; tests of a
// clock that does not echo set it to 0 for that part.
inline std::atomic<int>& PatientPortPatience() {
    static std::atomic<int> ms{kEchoPatienceMs};
    return ms;
}

// Any device, with that patience.
class CPatientDevice : public CSerialDevice {
public:
    explicit CPatientDevice(std::unique_ptr<CSerialDevice> inner, int patienceMs = kEchoPatienceMs)
        : m_inner(std::move(inner)), m_patienceMs(patienceMs) {}
    void SetPatience(int ms) { m_patienceMs = ms; }

    // A device that opens path whatever name the port was opened by.
    // with the patience of PatientPortPatience().
    CPatientDevice(std::unique_ptr<CSerialDevice> inner, std::string path)
        : m_inner(std::move(inner)), m_patienceMs(kEchoPatienceMs), m_path(std::move(path)), m_shared(true) {}
    bool Open(const std::string& path) override { return m_inner->Open(m_path.empty() ? path : m_path); }
    void Close() override { m_inner->Close(); }
    bool IsOpen() const override { return m_inner->IsOpen(); }
    bool GetLineState(TLineSettings& line) override { return m_inner->GetLineState(line); }
    bool SetLineState(const TLineSettings& line) override { return m_inner->SetLineState(line); }
    ssize_t Read(unsigned char* buf, std::size_t size) override {
        const int ms = m_shared ? PatientPortPatience().load() : m_patienceMs.load();
        return ReadWithEchoPatience(*m_inner, buf, size, ms);
    }
    ssize_t Write(const unsigned char* buf, std::size_t size) override { return m_inner->Write(buf, size); }
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override { return m_inner->Wait(wanted, timeoutMs); }
    void InterruptWait() override { m_inner->InterruptWait(); }
    bool Drain(unsigned stallMs) override { return m_inner->Drain(stallMs); }
    bool Purge(bool input, bool output) override { return m_inner->Purge(input, output); }
    bool SetBreak(bool on) override { return m_inner->SetBreak(on); }
    bool QueuedInput(unsigned& count) override { return m_inner->QueuedInput(count); }
    bool GetErrorCounts(TErrorCounts& counts) override { return m_inner->GetErrorCounts(counts); }

private:
    std::unique_ptr<CSerialDevice> m_inner;
    std::atomic<int> m_patienceMs;
    std::string m_path;
    bool m_shared = false;
};

// Offers name among the ports: it opens the serial device at path (such as
// a simulated clock's) with that patience.
inline void RegisterPatientPort(const std::string& name, const std::string& path) {
    CPortCatalogue::RegisterVirtualPort(name, "clock of the test", [path] {
        return std::make_shared<CPatientDevice>(std::make_unique<CTermiosDevice>(), path);
    });
}
