// The narrow seam below CCommPort: one open serial device. The termios
// implementation drives real lines and pseudo-terminals; tests put a fake
// here for what a pseudo-terminal cannot do (7 data bits, parity, refused
// settings, line error counters, a break that is seen).
//
// Every operation that fails leaves the reason in errno. Implementations must
// allow the reader thread to wait, query and read while the user-interface
// thread writes, purges or changes the line settings.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "LineSettings.h"

// What a device's Wait saw, as flags that may come together.
enum class TDeviceEvents : unsigned {
    None = 0,
    Input = 1u << 0,        // a Read finds bytes
    Output = 1u << 1,       // a Write takes bytes
    HungUp = 1u << 2,       // the line is gone or broken: far end closed, device unplugged, an error on it
    TimedOut = 1u << 3,     // none of the above within the time given
    Interrupted = 1u << 4,  // InterruptWait ended the wait
    Failed = 1u << 5,       // no wait could be made; errno says why (EBADF: not open)
};

constexpr TDeviceEvents operator|(TDeviceEvents a, TDeviceEvents b) {
    return static_cast<TDeviceEvents>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr TDeviceEvents operator&(TDeviceEvents a, TDeviceEvents b) {
    return static_cast<TDeviceEvents>(static_cast<unsigned>(a) & static_cast<unsigned>(b));
}
constexpr TDeviceEvents& operator|=(TDeviceEvents& a, TDeviceEvents b) { return a = a | b; }
// Whether events holds any of the flags in of.
constexpr bool HasAny(TDeviceEvents events, TDeviceEvents of) { return (events & of) != TDeviceEvents::None; }

class CSerialDevice {
public:
    // Running totals of line errors since the driver started counting.
    struct TErrorCounts {
        std::uint32_t frame = 0;
        std::uint32_t overrun = 0;
        std::uint32_t parity = 0;
        std::uint32_t brk = 0;
        std::uint32_t bufOverrun = 0;
    };

    virtual ~CSerialDevice() = default;

    // Opens the device for exclusive use; a second opener fails (EBUSY or
    // EWOULDBLOCK). The line is raw and reads never block.
    virtual bool Open(const std::string& path) = 0;
    // Restores the settings found at open and releases the device. Safe to
    // call twice.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Rate, data bits, parity (mark and space too), stop bits, parity
    // checking, flow control, DTR and RTS.
    virtual bool GetLineState(TLineSettings& line) = 0;
    // Refuses (EINVAL) what the line cannot do; changes nothing then.
    virtual bool SetLineState(const TLineSettings& line) = 0;

    // Never block: -1 with EAGAIN, or 0, when there is nothing to move.
    virtual ssize_t Read(unsigned char* buf, std::size_t size) = 0;
    virtual ssize_t Write(const unsigned char* buf, std::size_t size) = 0;
    // Waits up to timeoutMs (-1: no limit) for what is wanted (Input,
    // Output, both, or None) and gives what was seen. A hang-up is told
    // whatever was wanted; with None and 0 ms it is a look that takes
    // nothing from the line.
    virtual TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) = 0;
    // Ends the waits in progress on other threads with Interrupted; when
    // none is waiting, the next wait to start ends so at once. For the
    // reader thread, which waits without a limit until it is stopped.
    virtual void InterruptWait() = 0;

    // Waits until queued output has left; fails (ETIMEDOUT) when the output
    // queue has not moved for stallMs.
    virtual bool Drain(unsigned stallMs) = 0;
    // Discards queued input and/or output.
    virtual bool Purge(bool input, bool output) = 0;
    virtual bool SetBreak(bool on) = 0;
    // Bytes waiting to be read.
    virtual bool QueuedInput(unsigned& count) = 0;
    // A driver that keeps no counters gives zeros and true.
    virtual bool GetErrorCounts(TErrorCounts& counts) = 0;

    // What the user should know once about the device just opened (what it
    // cannot do, say); empty for nothing.
    virtual std::string OpenNotice() const { return std::string(); }
    // Why the last Open failed, in the device's own words where the system's
    // code says too little (a terminal server's answer); empty for none.
    virtual std::string OpenFailureNote() const { return std::string(); }

    // The link's round trip in ms as last measured: what a byte sent and its
    // answer spend on the way, beyond the line itself. 0 on a local line.
    virtual unsigned RoundTripMs() const { return 0; }
    // True for a port reached over the network, where each byte written
    // leaves at once and its echo comes a round trip later.
    virtual bool IsNetworkLink() const { return false; }
};

// Makes a fresh, unopened device; one for every Open of a port.
using SerialDeviceFactory = std::function<std::shared_ptr<CSerialDevice>()>;
