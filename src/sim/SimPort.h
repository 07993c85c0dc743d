// The simulated clock offered as a port: "SIM (simulated clock)" in the port
// list. Opening it starts one clock for the whole process on a pseudo-terminal
// and opens that terminal like any serial line, so loading, saving with its
// countdowns, the console and the time commands all work as with hardware.
//
// The clock's EEPROM outlives the process in a setup file,
// $XDG_DATA_HOME/tarvel/sim-eeprom.hcs (default ~/.local/share/tarvel/),
// written whenever the clock stores to EEPROM and, if it changed, when the
// process ends. A file that cannot be used is renamed to *.bad (said on
// standard error) and the clock starts from its factory setup.
#pragma once

#include <string>

#include "SerialDevice.h"
#include "TermiosDevice.h"

class CSimClock;

// A device like any other to the port: the simulated clock's line through
// a termios device of its own, which every operation but Open goes to.
class CSimPort : public CSerialDevice {
public:
    static constexpr const char* NAME = "SIM";
    static constexpr const char* DESCRIPTION = "simulated clock";

    // Starts the process's clock when it is not running, then opens its
    // device; the path given is not used. False with errno set when no
    // pseudo-terminal could be had.
    bool Open(const std::string& path) override;
    void Close() override { m_line.Close(); }
    bool IsOpen() const override { return m_line.IsOpen(); }
    bool GetLineState(TLineSettings& line) override { return m_line.GetLineState(line); }
    bool SetLineState(const TLineSettings& line) override { return m_line.SetLineState(line); }
    ssize_t Read(unsigned char* buf, std::size_t size) override { return m_line.Read(buf, size); }
    // Returns once the clock has dealt with what was written: a clock answers
    // in its own time whatever load the PC is under, so its echoes are on the
    // line before the writer starts waiting for them.
    ssize_t Write(const unsigned char* buf, std::size_t size) override;
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override { return m_line.Wait(wanted, timeoutMs); }
    void InterruptWait() override { m_line.InterruptWait(); }
    bool Drain(unsigned stallMs) override { return m_line.Drain(stallMs); }
    bool Purge(bool input, bool output) override { return m_line.Purge(input, output); }
    bool SetBreak(bool on) override { return m_line.SetBreak(on); }
    bool QueuedInput(unsigned& count) override { return m_line.QueuedInput(count); }
    bool GetErrorCounts(TErrorCounts& counts) override { return m_line.GetErrorCounts(counts); }

    // The clock behind the port, started on first use; nullptr when it could
    // not start. Valid until Shutdown.
    static CSimClock* GetClock();
    // Stops the clock and keeps its EEPROM in the file; the next Open starts
    // a new clock from the file. Also done when the process ends.
    static void Shutdown();
    // The EEPROM file; empty when there is no home directory to keep it in.
    static std::string EepromPath();

private:
    CTermiosDevice m_line;
};

// Offers the simulated clock among the ports; call before any port is made.
void RegisterSimPort();
