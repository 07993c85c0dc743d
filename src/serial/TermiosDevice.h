// A serial device (or pseudo-terminal) through termios and the tty ioctls.
#pragma once

#include <termios.h>

#include <atomic>
#include <mutex>

#include "PollWait.h"
#include "SerialDevice.h"

class CTermiosDevice : public CSerialDevice {
public:
    CTermiosDevice() = default;
    ~CTermiosDevice() override;
    CTermiosDevice(const CTermiosDevice&) = delete;
    CTermiosDevice& operator=(const CTermiosDevice&) = delete;

    bool Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override;
    bool GetLineState(TLineSettings& line) override;
    bool SetLineState(const TLineSettings& line) override;
    ssize_t Read(unsigned char* buf, std::size_t size) override;
    ssize_t Write(const unsigned char* buf, std::size_t size) override;
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override;
    void InterruptWait() override { m_interrupt.Raise(); }
    bool Drain(unsigned stallMs) override;
    bool Purge(bool input, bool output) override;
    bool SetBreak(bool on) override;
    bool QueuedInput(unsigned& count) override;
    bool GetErrorCounts(TErrorCounts& counts) override;

    // termios <-> line settings, without a device (the tests use these
    // directly). LineToTermios refuses what the line cannot do; the modem
    // lines and DSR flow are no business of termios and are left out.
    static bool LineToTermios(const TLineSettings& line, termios& tio);
    static void TermiosToLine(const termios& tio, TLineSettings& line);

private:
    // The descriptor of the open device; false with EBADF once closed.
    bool OpenFd(int& fd) const;

    std::atomic<int> m_fd{-1};
    CPollInterrupt m_interrupt;  // the device's whole life: another thread may raise it any time
    termios m_saved{};       // as found at open, restored at close
    bool m_haveSaved = false;
    std::mutex m_lineMutex;  // line settings change as one step
    // Lines a pseudo-terminal cannot show: kept as last set.
    TDtrMode m_dtr = TDtrMode::Off;
    TRtsMode m_rts = TRtsMode::Off;
    bool m_dsrFlow = false;
};
