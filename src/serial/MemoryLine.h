// A serial line inside the process: two ends, a byte queue each way under
// one mutex, and each end's wait in the device seam's terms. The tests' fake
// device is the near end of one, with the test playing the far end; the
// "SIM" port another, with the simulated clock at the far end.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "SerialDevice.h"

class CMemoryLine {
public:
    enum class TEnd { Near, Far };

    // Both ends present, nothing queued, no interrupt raised.
    void Connect();
    // The end goes away. The other end still reads what was queued for it,
    // then reads 0; its writes fail (EIO) and its waits see HungUp.
    void HangUp(TEnd end);
    bool IsPresent(TEnd end) const;

    // Never block. Read: -1 with EAGAIN when nothing is queued, 0 once the
    // other end is gone and all was read. Write: takes what there is room
    // for; -1 with EAGAIN when full, EIO when the other end is gone. Both -1
    // with EBADF when the end itself is not present.
    ssize_t Read(TEnd end, unsigned char* buf, std::size_t size);
    ssize_t Write(TEnd end, const unsigned char* buf, std::size_t size);
    // Bytes queued for the end to read.
    std::size_t Queued(TEnd end) const;
    // Drops what is queued for the end.
    void Discard(TEnd end);
    // The most bytes that may wait for the end (unlimited until set).
    void SetCapacity(TEnd end, std::size_t bytes);
    // Waits until the end has read all queued for it; false with ETIMEDOUT
    // when the queue did not shrink for stallMs, EIO when the end is gone.
    bool WaitTaken(TEnd end, unsigned stallMs);

    // CSerialDevice::Wait and InterruptWait for the end; Failed (EBADF)
    // when it is not present, also when it goes away during the wait.
    TDeviceEvents Wait(TEnd end, TDeviceEvents wanted, int timeoutMs);
    void InterruptWait(TEnd end);

private:
    struct TSide {
        std::string queue;  // for this end to read
        std::size_t capacity = SIZE_MAX;
        bool present = false;
        bool interruptPending = false;   // raised, no wait has seen it yet
        std::uint64_t interrupts = 0;    // raised so far, for the waits in progress
    };
    static std::size_t Index(TEnd end) { return end == TEnd::Near ? 0 : 1; }
    static std::size_t OtherIndex(TEnd end) { return end == TEnd::Near ? 1 : 0; }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    TSide m_sides[2];
};
