// The device seam's wait made of poll(2), for the devices with descriptors:
// the device's own, and an eventfd of the device's that interrupts it.
#pragma once

#include "SerialDevice.h"

class CPollInterrupt {
public:
    // Fd() is -1 when the system gave no eventfd (errno says why).
    CPollInterrupt();
    ~CPollInterrupt();
    CPollInterrupt(const CPollInterrupt&) = delete;
    CPollInterrupt& operator=(const CPollInterrupt&) = delete;

    int Fd() const { return m_fd; }
    // Stays raised until a wait sees it or Clear.
    void Raise();
    void Clear();

private:
    int m_fd = -1;
};

// Waits up to timeoutMs (-1: no limit) for input on inputFd and room on
// outputFd, each when wanted (the same descriptor may be both), or for the
// interrupt. inputFd is watched even when no input is wanted, for its
// hang-up; outputFd (-1: none) only when room is wanted. A hang-up or an
// error on either is HungUp.
TDeviceEvents PollWait(int inputFd, int outputFd, TDeviceEvents wanted, int timeoutMs, CPollInterrupt& interrupt);
