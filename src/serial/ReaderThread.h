// The port's reader thread: waits on the device for input, reads everything
// queued and hands each block to its target with WM_COMMDATA (n, address of
// the bytes; valid during the Send only), after WM_COMMSTATUS (1, n) to the
// notify target. Stop interrupts the device's wait.
//
// Threads. Start and Stop run on the user-interface thread. A Send from the
// reader may block until the receiver's thread has handled it (a blocking
// queued call in the GUI), so Stop waits for the thread while calling
// PumpWaitingMessages(), which must dispatch those pending sends.
//  - When PumpWaitingMessages() returns false (the application is closing)
//    Stop stops waiting and leaves the thread to end on its own. The thread
//    then never sends again: it checks the stop request before every Send
//    and every report, and owns what it still uses (device, buffer); the
//    device is closed when the thread ends if the port has handed it over
//    (HandOver). The one thing the receiver must guarantee: a
//    Send that is already waiting returns (undelivered) once its receiver is
//    destroyed or its thread stops dispatching for good, as Qt's blocking
//    queued calls do when the receiver is deleted.
//  - Handlers dispatched while Stop waits may call Stop, Start or the port's
//    Open and Close again.
//  - The thread keeps the targets and reporter it was started with.
#pragma once

#include <memory>
#include <optional>
#include <thread>

#include "LineTrace.h"
#include "SerialDevice.h"
#include "Win32Err.h"

class CMessageTarget;
class IPortReporter;

class CReaderThread {
public:
    CReaderThread() = default;
    ~CReaderThread();
    CReaderThread(const CReaderThread&) = delete;
    CReaderThread& operator=(const CReaderThread&) = delete;

    // What a new thread reads from and reports to. reporter: told of
    // failures inside the thread; null for none (the port is not verbose).
    struct TSetup {
        std::shared_ptr<CSerialDevice> device;
        CMessageTarget* notify = nullptr;
        CMessageTarget* target = nullptr;
        IPortReporter* reporter = nullptr;
        std::shared_ptr<CLineTrace> trace;  // null: no trace
    };
    // Starts a thread unless one runs (a running one keeps its target); one
    // that ended by a failure is released first. The failure when no thread
    // could be started.
    std::optional<CWin32Err> Start(const TSetup& setup);
    // Ends the running thread; see the thread notes above.
    void Stop();
    // A thread has been started and not yet stopped.
    bool Started() const { return m_reader != nullptr; }

    // The port lets go of device. True when a thread still waiting on it (left
    // running by a closing application, or being stopped further up this
    // thread's stack) now closes it when it ends; false: close it yourself.
    // Forgets a thread left running either way (null device: only that).
    bool HandOver(const std::shared_ptr<CSerialDevice>& device);

private:
    struct TShared;
    static void Run(std::shared_ptr<TShared> shared);

    std::unique_ptr<std::thread> m_thread;
    std::shared_ptr<TShared> m_reader;     // state shared with the running thread
    std::shared_ptr<TShared> m_stopping;   // the thread Stop is waiting for
    std::shared_ptr<TShared> m_abandoned;  // a thread left running by Stop
};
