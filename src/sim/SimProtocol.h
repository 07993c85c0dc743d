// What the simulated clock does with what it hears: commands byte by byte
// with their echoes, hex records taken and sent, "v" and "TU" answered, the
// set-time command taken, half commands dropped after a quiet spell. The
// answers go to the clock's output at the pace of the line it is heard on.
// Fed by the serving thread; the log, ROM date and time-out are safe to use
// from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ClockConfig.h"
#include "Profile.h"
#include "SimCommandParser.h"
#include "SimFaults.h"

class CSimClockTime;
class CSimFaultInjector;
class CSimMemories;
class CSimOutput;

// The line the clock is heard on, as it stands now.
struct TSimLineRate {
    std::uint32_t rate = 9600;  // 0: B0 or a rate outside the table
    bool settable = false;      // a pseudo-terminal the program sets; TCP has no rate
};

class CSimProtocol {
public:
    using TClock = std::chrono::steady_clock;

    // By default as long as the program may take over one command byte: its
    // largest CharDelay, and as long again for the echo to come back, so the
    // simulated clock is never the one that gives up first.
    static constexpr int DEFAULT_COMMAND_TIMEOUT_MS = 2 * MAX_PROFILE_DELAY_MS;
    // A quiet line this long is taken as where the program may have sent a
    // break (which it follows with 500 ms of quiet): a command that begins
    // then may drop a half command or records before it, without a '?'.
    static constexpr int BREAK_PAUSE_MS = 300;
    static constexpr const char* ROM_DATE = "12 Mar 1998\r\n";
    static constexpr const char* OLD_ROM_DATE = "23 Oct 1996\r\n";

    CSimProtocol(CSimMemories& memories, CSimClockTime& time, CSimFaultInjector& faults, CSimOutput& output)
        : m_memories(memories), m_time(time), m_faults(faults), m_output(output) {}

    // Where the line's rate is asked; set before serving.
    void SetLineRate(std::function<TSimLineRate()> rate) { m_lineRate = std::move(rate); }

    // A fresh line: no half command, no records awaited, nothing on its way.
    void Reset();
    // Bytes received from the line.
    void Take(const char* data, std::size_t size);
    // Drops a half command, or records, whose next byte is overdue.
    void CheckTimeouts(TClock::time_point now);
    // When that will be; none while nothing is pending.
    std::optional<TClock::time_point> InputExpiry() const;

    // The commands carried out (or refused by the '?' fault), in order; the
    // last 1000 of them.
    std::vector<std::string> GetCommandLog() const;
    void ClearCommandLog();
    // The line "v" answers with, CR LF included.
    std::string GetRomDate() const;
    void SetRomDate(const std::string& line);
    // How long a partial command, or the records after "XR", may wait for
    // their next byte before they are dropped.
    void SetCommandTimeoutMs(int ms);

    // Called on the serving thread, without any lock held; set before serving.
    void SetCommandHandler(std::function<void(const std::string&)> handler) { m_onCommand = std::move(handler); }
    void SetEepromStoredHandler(std::function<void(const TClockConfig&)> handler) {
        m_onEepromStored = std::move(handler);
    }

private:
    int CommandTimeoutMs() const;
    void HandleCommandByte(char c, const TSimFaults& faults, bool afterPause);
    void HandleRecordByte(char c, const TSimFaults& faults);
    bool RecordsCanTake(char c) const;
    void CarryOut(const std::string& command, const TSimFaults& faults);
    bool SetTimeFromText(const std::string& command);
    std::string TimeLine() const;
    // When the byte being handled was heard (host seconds): the clock
    // takes its time then, before the byte's echo leaves.
    double m_heardHost = 0;
    std::string RecordsText(const TSimFaults& faults);
    void QueueReply(const std::string& text, const TSimFaults& faults);
    TClock::duration CharTime() const;

    CSimMemories& m_memories;
    CSimClockTime& m_time;
    CSimFaultInjector& m_faults;
    CSimOutput& m_output;
    std::function<TSimLineRate()> m_lineRate;
    std::function<void(const std::string&)> m_onCommand;
    std::function<void(const TClockConfig&)> m_onEepromStored;

    // Shared with callers; guarded by m_mutex.
    mutable std::mutex m_mutex;
    std::vector<std::string> m_log;
    std::string m_romDate = ROM_DATE;
    int m_commandTimeoutMs = DEFAULT_COMMAND_TIMEOUT_MS;

    // The serving thread's own.
    CSimCommandParser m_parser;
    TClock::time_point m_lastInput = TClock::now();
    bool m_takingRecords = false;
    std::string m_records;
};
