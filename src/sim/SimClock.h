// A simulated GPS time clock on the master side of a pseudo-terminal. The
// program opens DevicePath() like any serial device and finds a clock there:
// it echoes command bytes, keeps an EEPROM and an active setup, sends and
// takes the hex records, answers "v" and "TU" and takes the set-time command.
// Faults can be switched on at any time to show how the program copes.
// Instead of a pseudo-terminal the clock can serve raw TCP (Listen): one
// client at a time, each finding a clock ready for a command; or a line
// inside the process (StartInProcess), which the "SIM" port opens.
//
// The clock's parts, each with one job: its memories (SimMemories.h), its
// time (SimClockTime.h), its faults (SimFaultInjector.h), what it does with
// what it hears (SimProtocol.h), its output (SimOutput.h) and the serving of
// its line (SimLineServer.h). This class puts them together for the program
// and the tests.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClockConfig.h"
#include "SimClockTime.h"
#include "SimFaultInjector.h"
#include "SimFaults.h"
#include "SimLineServer.h"
#include "SimMemories.h"
#include "SimOutput.h"
#include "SimProtocol.h"

class CSimClock {
public:
    CSimClock();
    ~CSimClock() { Stop(); }
    CSimClock(const CSimClock&) = delete;
    CSimClock& operator=(const CSimClock&) = delete;

    // The line: a pseudo-terminal (Start), TCP (Listen) or one inside the
    // process (StartInProcess); see SimLineServer.h.
    bool Start() { return m_server.Start(); }
    bool StartInProcess() { return m_server.StartInProcess(); }
    std::shared_ptr<CSimInProcessLine> InProcessLine() const { return m_server.InProcessLine(); }
    void Stop() { m_server.Stop(); }
    bool Listen(const std::string& host, std::uint16_t port) { return m_server.Listen(host, port); }
    std::string ListenAddress() const { return m_server.ListenAddress(); }
    std::string DevicePath() const { return m_server.DevicePath(); }
    std::string LastError() const { return m_server.LastError(); }

    // The memories and the clock's own rate; see SimMemories.h.
    static TClockConfig MakeFactorySetup() { return CSimMemories::MakeFactorySetup(); }
    TClockConfig GetEeprom() const { return m_memories.GetEeprom(); }
    void SetEeprom(const TClockConfig& config) { m_memories.SetEeprom(config); }
    TClockConfig GetActive() const { return m_memories.GetActive(); }
    void SetActive(const TClockConfig& config) { m_memories.SetActive(config); }
    // The baud rate of the clock's main port as its setup gave it when the
    // clock last started or was reset: a write that changes it takes effect
    // at the reset that ends the write. 0 for a rate byte outside the list.
    std::uint32_t OwnRate() const { return m_memories.OwnRate(); }

    // Takes effect from the next received byte; restarts the noise sequence.
    void SetFaults(const TSimFaults& faults) { m_faults.Set(faults); }

    // The commands carried out (or refused by the '?' fault), in order; the
    // last 1000 of them.
    std::vector<std::string> GetCommandLog() const { return m_protocol.GetCommandLog(); }
    void ClearCommandLog() { m_protocol.ClearCommandLog(); }

    // The clock's own time; see SimClockTime.h.
    std::time_t GetClockTime() const { return m_time.GetClockTime(); }
    void SetClockTime(std::time_t utc) { m_time.SetClockTime(utc); }
    void SetTimeOffset(double seconds) { m_time.SetTimeOffset(seconds); }
    void SetDriftPpm(double ppm) { m_time.SetDriftPpm(ppm); }
    double TimeOffsetAt(double hostSeconds) const { return m_time.TimeOffsetAt(hostSeconds); }

    // The line "v" answers with, CR LF included.
    void SetRomDate(const std::string& line) { m_protocol.SetRomDate(line); }

    // Bytes taken from the line and dealt with, the echoes written back;
    // counted from Start. WaitAnswered is false when timeoutMs ran out or the
    // clock stopped first.
    std::uint64_t BytesAnswered() const { return m_server.BytesAnswered(); }
    bool WaitAnswered(std::uint64_t count, int timeoutMs) const { return m_server.WaitAnswered(count, timeoutMs); }

    // How long a partial command, or the records after "XR", may wait for
    // their next byte before they are dropped.
    void SetCommandTimeoutMs(int ms) { m_protocol.SetCommandTimeoutMs(ms); }
    static constexpr int DEFAULT_COMMAND_TIMEOUT_MS = CSimProtocol::DEFAULT_COMMAND_TIMEOUT_MS;
    static constexpr int BREAK_PAUSE_MS = CSimProtocol::BREAK_PAUSE_MS;

    // Called on the serving thread, without any lock held: every command
    // received, every store of the active setup into EEPROM, and a line for
    // each TCP client that comes, leaves or is turned away. Set them before
    // Start or Listen.
    void SetCommandHandler(std::function<void(const std::string&)> handler) {
        m_protocol.SetCommandHandler(std::move(handler));
    }
    void SetEepromStoredHandler(std::function<void(const TClockConfig&)> handler) {
        m_protocol.SetEepromStoredHandler(std::move(handler));
    }
    void SetClientHandler(std::function<void(const std::string&)> handler) {
        m_server.SetClientHandler(std::move(handler));
    }

    static constexpr const char* ROM_DATE = CSimProtocol::ROM_DATE;
    static constexpr const char* OLD_ROM_DATE = CSimProtocol::OLD_ROM_DATE;

private:
    CSimMemories m_memories;
    CSimClockTime m_time;
    CSimFaultInjector m_faults;
    CSimOutput m_output;
    CSimProtocol m_protocol{m_memories, m_time, m_faults, m_output};
    // Last: it stops serving before the parts it serves go.
    CSimLineServer m_server{m_protocol, m_output};
};
