// The simulated clock offered as a port: "SIM (simulated clock)" in the port
// list. Opening it starts one clock for the whole process on a line inside
// the process (SimInProcessLine.h: no pseudo-terminal) and opens that line
// like any serial line, so loading, saving with its countdowns, the console
// and the time commands all work as with hardware.
//
// The clock's EEPROM outlives the process in a setup file,
// $XDG_DATA_HOME/tarvel/sim-eeprom.hcs (default ~/.local/share/tarvel/),
// written whenever the clock stores to EEPROM and, if it changed, when the
// process ends. A file that cannot be used is renamed to *.bad (said on
// standard error) and the clock starts from its factory setup.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "SerialDevice.h"

class CSimClock;
class CSimInProcessLine;

// A device like any other to the port: the near end of the simulated
// clock's line, with what a pseudo-terminal would do (the rates the termios
// device takes, a break accepted unseen, no error counters).
class CSimPort : public CSerialDevice {
public:
    static constexpr const char* NAME = "SIM";
    static constexpr const char* DESCRIPTION = "simulated clock";

    ~CSimPort() override { Close(); }

    // Starts the process's clock when it is not running, then takes its
    // line; the path given is not used. False with errno set: EBUSY when
    // another device has the line.
    bool Open(const std::string& path) override;
    // What came and what was not yet taken is dropped, as a tty's close does.
    void Close() override;
    bool IsOpen() const override { return Line() != nullptr; }
    bool GetLineState(TLineSettings& line) override;
    bool SetLineState(const TLineSettings& line) override;
    ssize_t Read(unsigned char* buf, std::size_t size) override;
    // Returns once the clock has dealt with what was written: a clock answers
    // in its own time whatever load the PC is under, so its echoes are on the
    // line before the writer starts waiting for them.
    ssize_t Write(const unsigned char* buf, std::size_t size) override;
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override;
    void InterruptWait() override;
    bool Drain(unsigned stallMs) override;
    bool Purge(bool input, bool output) override;
    bool SetBreak(bool on) override;
    bool QueuedInput(unsigned& count) override;
    bool GetErrorCounts(TErrorCounts& counts) override;

    // The clock behind the port, started on first use; nullptr when it could
    // not start. Valid until Shutdown.
    static CSimClock* GetClock();
    // Stops the clock and keeps its EEPROM in the file; the next Open starts
    // a new clock from the file. Also done when the process ends.
    static void Shutdown();
    // The EEPROM file; empty when there is no home directory to keep it in.
    static std::string EepromPath();

private:
    // The line while open, else null (EBADF); the reader thread asks too.
    std::shared_ptr<CSimInProcessLine> Line() const;

    mutable std::mutex m_mutex;
    std::shared_ptr<CSimInProcessLine> m_line;  // under m_mutex
};

// Offers the simulated clock among the ports; call before any port is made.
void RegisterSimPort();
