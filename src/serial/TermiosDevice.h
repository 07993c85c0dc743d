// A serial device (or pseudo-terminal) through termios and the tty ioctls.
#pragma once

#include <termios.h>

#include <atomic>
#include <mutex>

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
    bool GetLineState(DCB& dcb) override;
    bool SetLineState(const DCB& dcb) override;
    ssize_t Read(unsigned char* buf, std::size_t size) override;
    ssize_t Write(const unsigned char* buf, std::size_t size) override;
    int Poll(short events, int timeoutMs) override;
    int PollFd() const override;
    bool Drain(unsigned stallMs) override;
    bool Purge(bool input, bool output) override;
    bool SetBreak(bool on) override;
    bool QueuedInput(unsigned& count) override;
    bool GetErrorCounts(TErrorCounts& counts) override;

    // termios <-> DCB, without a device (the tests use these directly).
    static bool DcbToTermios(const DCB& dcb, termios& tio);
    static void TermiosToDcb(const termios& tio, DCB& dcb);

private:
    // The descriptor of the open device; false with EBADF once closed.
    bool OpenFd(int& fd) const;

    std::atomic<int> m_fd{-1};
    termios m_saved{};       // as found at open, restored at close
    bool m_haveSaved = false;
    std::mutex m_lineMutex;  // line settings change as one step
    // Lines a pseudo-terminal cannot show: kept as last set.
    std::uint8_t m_dtrControl = DTR_CONTROL_DISABLE;
    std::uint8_t m_rtsControl = RTS_CONTROL_DISABLE;
    bool m_dsrFlow = false;
};
