// A serial device for the tests, for what a pseudo-terminal cannot do: any
// data bits and parity, refused settings, line error counters, breaks and
// purges that can be seen. Like a tty, a path is open in one device at a
// time. The line itself is in memory (CMemoryLine): the test holds the far
// end (the clock's side) and can hang it up.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "Dcb.h"
#include "MemoryLine.h"
#include "SerialDevice.h"

class CFakeSerialDevice : public CSerialDevice {
public:
    CFakeSerialDevice();
    ~CFakeSerialDevice() override;
    CFakeSerialDevice(const CFakeSerialDevice&) = delete;
    CFakeSerialDevice& operator=(const CFakeSerialDevice&) = delete;

    // CSerialDevice
    bool Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override;
    bool GetLineState(TLineSettings& line) override;
    bool SetLineState(const TLineSettings& line) override;
    ssize_t Read(unsigned char* buf, std::size_t size) override;
    ssize_t Write(const unsigned char* buf, std::size_t size) override;
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override;
    void InterruptWait() override;
    bool Drain(unsigned stallMs) override;
    bool Purge(bool input, bool output) override;
    bool SetBreak(bool on) override;
    bool QueuedInput(unsigned& count) override;
    bool GetErrorCounts(TErrorCounts& counts) override;

    // What the tests arrange. An errno of 0 means "works".
    void SetOpenError(int err);
    void SetLineStateError(int err);  // SetLineState refuses with it
    void SetGetStateError(int err);   // GetLineState fails with it
    void SetDrainError(int err);
    void SetErrorCounts(const TErrorCounts& counts);
    // Bytes the far end can hold before writes to the device stall.
    void SetSendBuffer(int bytes);

    // The far end of the line.
    bool PeerWrite(const std::string& bytes);
    std::string PeerReadAll();  // what the device wrote and is still queued
    void HangUp();              // the far end goes away

    // What happened.
    std::string LastPath() const;
    DCB LineState() const;  // as last set, in the port's terms; also after Close
    std::vector<bool> BreakCalls() const;
    int DrainCalls() const;
    int PurgeCalls() const;
    bool LastPurgeInput() const;
    bool LastPurgeOutput() const;
    int SetLineStateCalls() const;
    int OpenCount() const;
    // Waits until the device has been closed; false when timeoutMs ran out.
    bool WaitClosed(int timeoutMs);

private:
    using TEnd = CMemoryLine::TEnd;

    CMemoryLine m_line;  // the near end is the device's
    mutable std::mutex m_mutex;
    std::condition_variable m_closedCv;
    bool m_open = false;
    int m_sendBuffer = 0;
    int m_openError = 0, m_setError = 0, m_getError = 0, m_drainError = 0;
    std::string m_path;      // last asked for
    std::string m_openPath;  // held while open
    TLineSettings m_settings;
    TErrorCounts m_counts;
    std::vector<bool> m_breaks;
    int m_drains = 0, m_purges = 0, m_sets = 0, m_opens = 0;
    bool m_purgeInput = false, m_purgeOutput = false;
};
