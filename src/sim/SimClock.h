// A simulated GPS time clock on the master side of a pseudo-terminal. The
// program opens DevicePath() like any serial device and finds a clock there:
// it echoes command bytes, keeps an EEPROM and an active setup, sends and
// takes the hex records, answers "v" and "TU" and takes the set-time command.
// Faults can be switched on at any time to show how the program copes.
// Instead of a pseudo-terminal the clock can serve raw TCP (Listen): one
// client at a time, each finding a clock ready for a command.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <sys/types.h>
#include <string>
#include <thread>
#include <vector>

#include "ClockConfig.h"
#include "Profile.h"
#include "SimCommandParser.h"
#include "SimFaults.h"

class CSimClock {
public:
    CSimClock();
    ~CSimClock();
    CSimClock(const CSimClock&) = delete;
    CSimClock& operator=(const CSimClock&) = delete;

    // Creates the pseudo-terminal and starts serving it; false (see
    // LastError) when the system refuses one.
    bool Start();
    // Ends the serving thread and closes the device; the program's side then
    // sees a hang-up, as with an unplugged cable.
    void Stop();
    // Serves on TCP instead of a pseudo-terminal: listens on host:port (port
    // 0: a free one). One client is served at a time; another that connects
    // meanwhile is closed at once, and a new one may come when the client
    // leaves. Each new client finds the clock ready for a command, as a break
    // would leave it. False (see LastError) when the address cannot be had.
    bool Listen(const std::string& host, std::uint16_t port);
    bool IsRunning() const { return m_thread.joinable(); }
    // Where Listen serves, "HOST:PORT" with the port really bound ("[::1]:PORT"
    // for IPv6); empty when not listening.
    std::string ListenAddress() const;
    // The slave device to open, e.g. "/dev/pts/7"; empty when not started.
    std::string DevicePath() const { return m_devicePath; }
    std::string LastError() const { return m_lastError; }

    // A plausible setup as a clock leaves the factory; both memories start so.
    static TClockConfig MakeFactorySetup();

    TClockConfig GetEeprom() const;
    // The clock then runs at the rate config gives, as if switched on with it.
    void SetEeprom(const TClockConfig& config);
    TClockConfig GetActive() const;
    void SetActive(const TClockConfig& config);

    // The baud rate of the clock's main port as its setup gave it when the
    // clock last started or was reset: a write that changes it takes effect
    // at the reset that ends the write. 0 for a rate byte outside the list.
    std::uint32_t OwnRate() const;
    static std::uint32_t RateOf(const TClockConfig& config);

    TSimFaults GetFaults() const;
    // Takes effect from the next received byte; restarts the noise sequence.
    void SetFaults(const TSimFaults& faults);

    // The commands carried out (or refused by the '?' fault), in order; the
    // last 1000 of them.
    std::vector<std::string> GetCommandLog() const;
    void ClearCommandLog();

    // The clock's own UTC time, kept exactly as the system clock plus an
    // offset that grows at the drift rate; it tells the whole second it is in.
    std::time_t GetClockTime() const;
    // Sets the clock to utc exactly, now; the drift goes on.
    void SetClockTime(std::time_t utc);
    // The clock's time minus the system clock's from now on, in seconds
    // (positive: the clock is ahead).
    void SetTimeOffset(double seconds);
    // How fast the clock gains on the system clock, in millionths (negative:
    // it loses); the offset reached so far is kept.
    void SetDriftPpm(double ppm);
    // The exact offset at host time (seconds since the epoch on the system
    // clock): what an estimate of it should find.
    double TimeOffsetAt(double hostSeconds) const;

    // The line "v" answers with, CR LF included.
    std::string GetRomDate() const;
    void SetRomDate(const std::string& line);

    // Bytes taken from the line and dealt with, the answers due at once (the
    // echoes) written back; counted from Start.
    std::uint64_t BytesAnswered() const;
    // Waits until BytesAnswered() reaches count; false when timeoutMs ran out
    // or the clock stopped first.
    bool WaitAnswered(std::uint64_t count, int timeoutMs) const;

    // How long a partial command, or the records after "XR", may wait for
    // their next byte before they are dropped.
    void SetCommandTimeoutMs(int ms);
    // By default as long as the program may take over one command byte: its
    // largest CharDelay, and as long again for the echo to come back, so the
    // simulated clock is never the one that gives up first.
    static constexpr int DEFAULT_COMMAND_TIMEOUT_MS = 2 * MAX_PROFILE_DELAY_MS;
    // A quiet line this long is taken as where the program may have sent a
    // break (which it follows with 500 ms of quiet): a command that begins
    // then may drop a half command or records before it, without a '?'.
    static constexpr int BREAK_PAUSE_MS = 300;

    // Called on the serving thread, without any lock held: every command
    // received, and every store of the active setup into EEPROM. Set them
    // before Start.
    void SetCommandHandler(std::function<void(const std::string&)> handler);
    void SetEepromStoredHandler(std::function<void(const TClockConfig&)> handler);
    // Called on the serving thread when a TCP client comes, leaves or is
    // turned away, with a line saying so. Set it before Listen.
    void SetClientHandler(std::function<void(const std::string&)> handler);

    static constexpr const char* ROM_DATE = "12 Mar 1998\r\n";
    static constexpr const char* OLD_ROM_DATE = "23 Oct 1996\r\n";

private:
    using TClock = std::chrono::steady_clock;
    struct TOutByte {
        char c;
        TClock::time_point due;
    };

    bool StartServing();
    void Serve();
    void CloseAll();
    void ResetLine();
    void AcceptClient();
    void DropClient(const std::string& why);  // "left", "lost: reason"
    ssize_t WriteLine(const char* data, std::size_t size);
    void SetServing(bool serving);
    void HandleInput(const char* data, std::size_t size);
    void HandleCommandByte(char c, const TSimFaults& faults, bool afterPause);
    void HandleRecordByte(char c, const TSimFaults& faults);
    bool RecordsCanTake(char c) const;
    void CheckTimeouts(TClock::time_point now);
    int CommandTimeoutMs() const;
    void CarryOut(const std::string& command, const TSimFaults& faults);
    bool SetTimeFromText(const std::string& command);
    std::string RecordsText(const TSimFaults& faults);
    void QueueEcho(char c);
    void QueueReply(const std::string& text, const TSimFaults& faults);
    std::string NoiseLocked();  // m_mutex held
    void Enqueue(const std::string& text, TClock::time_point earliest);
    TClock::duration CharTime() const;
    std::uint32_t LineRate() const;  // 0: B0 or a rate outside the table
    bool WriteDueOutput(TClock::time_point now);

    // Shared with callers; guarded by m_mutex.
    mutable std::mutex m_mutex;
    TClockConfig m_eeprom;
    TClockConfig m_active;
    TSimFaults m_faults;
    std::uint64_t m_faultsGeneration = 0;  // counts SetFaults calls
    std::vector<std::string> m_log;
    double m_offsetAtBase = 0;  // clock minus host at m_baseHost
    double m_baseHost = 0;
    double m_driftPpm = 0;
    std::string m_romDate = ROM_DATE;
    int m_commandTimeoutMs = DEFAULT_COMMAND_TIMEOUT_MS;
    std::uint32_t m_ownRate = 0;
    std::mt19937 m_noise;

    // Set before Start, read by the serving thread.
    std::function<void(const std::string&)> m_onCommand;
    std::function<void(const TClockConfig&)> m_onEepromStored;
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
    std::string m_devicePath;
    std::string m_lastError;
    std::thread m_thread;
    CSimCommandParser m_parser;
    TClock::time_point m_lastInput;
    bool m_takingRecords = false;
    std::string m_records;
    std::uint64_t m_commandBytes = 0;  // since the faults were last set
    std::uint64_t m_seenGeneration = 0;
    std::deque<TOutByte> m_output;
    std::uint64_t m_bytesRead = 0;

    // What the serving thread has answered, for WaitAnswered.
    mutable std::mutex m_answerMutex;
    mutable std::condition_variable m_answerCv;
    std::uint64_t m_bytesAnswered = 0;
    bool m_serving = false;
    TClock::time_point m_lineFree;  // when the last queued character has left
};
