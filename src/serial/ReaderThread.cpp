#include "ReaderThread.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "MessageTarget.h"
#include "Messages.h"
#include "PortReporter.h"
#include "Waits.h"
#include "Trace.h"

namespace {

// The reader gives up on a device that keeps reporting input it never has.
constexpr int kMaxEmptyWakes = 16;

bool DeviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

}  // namespace

// What the thread uses. It owns all of it, so the thread may outlive the
// port's interest in it (see Stop).
struct CReaderThread::TShared {
    TSetup setup;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable cv;
    bool ended = false;             // under mutex
    bool closeDeviceOnEnd = false;  // under mutex: the port has let go of the device
};

CReaderThread::~CReaderThread() { Stop(); }

std::optional<CWin32Err> CReaderThread::Start(const TSetup& setup) {
    if (m_reader) {
        {
            std::lock_guard<std::mutex> lock(m_reader->mutex);
            if (!m_reader->ended) return std::nullopt;  // the running thread keeps its target
        }
        m_thread->join();  // ended by a failure: release it
        m_thread.reset();
        m_reader.reset();
    }
    auto shared = std::make_shared<TShared>();
    shared->setup = setup;
    try {
        m_thread = std::make_unique<std::thread>(Run, shared);
    } catch (const std::system_error& e) {
        return CWin32Err("AfxBeginThread", e.code().value());
    }
    m_reader = std::move(shared);
    return std::nullopt;
}

void CReaderThread::Stop() {
    if (!m_reader) return;
    // Taken over at once: a handler run by the pump below may call Stop,
    // Start or the port's Close again.
    std::shared_ptr<TShared> reader = std::move(m_reader);
    std::unique_ptr<std::thread> thread = std::move(m_thread);
    reader->stop = true;
    reader->setup.device->InterruptWait();
    // The thread may be blocked in a Send that only this thread can deliver:
    // keep dispatching while we wait.
    std::shared_ptr<TShared> outer = std::exchange(m_stopping, reader);
    bool ended = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(reader->mutex);
            ended = reader->cv.wait_for(lock, std::chrono::milliseconds(2), [&] { return reader->ended; });
        }
        if (ended || !PumpWaitingMessages()) break;
        // Again: a wait of the port's own, run by a handler just dispatched,
        // may have taken the interrupt before the reader's wait began.
        reader->setup.device->InterruptWait();
    }
    m_stopping = std::move(outer);
    if (ended) {
        thread->join();
    } else {
        // Closing: leave the thread to end by itself. It sends nothing more
        // and owns what it still touches; HandOver gives it the device.
        thread->detach();
        m_abandoned = reader;
    }
}

bool CReaderThread::HandOver(const std::shared_ptr<CSerialDevice>& device) {
    bool handedOver = false;
    for (const auto& reader : {m_abandoned, m_stopping}) {
        if (!reader || handedOver) continue;
        std::lock_guard<std::mutex> lock(reader->mutex);
        if (!reader->ended && reader->setup.device == device) {
            reader->closeDeviceOnEnd = true;
            handedOver = true;
        }
    }
    m_abandoned.reset();
    return handedOver;
}

void CReaderThread::Run(std::shared_ptr<TShared> shared) {
    TShared& r = *shared;
    CSerialDevice& device = *r.setup.device;
    std::vector<unsigned char> buf(1024);
    auto send = [&r](CMessageTarget* to, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        if (to && !r.stop) to->Send(msg, wParam, lParam);
    };
    auto report = [&r](const CWin32Err& err) {
        TRACE("CCommPort::ReaderThreadProc(): %s\n", err.GetDiagnostic().c_str());
        std::string text;
        if (err.GetText(text) && r.setup.reporter && !r.stop) r.setup.reporter->ShowError(text);
    };
    // One report for a device that went away (unplugged, hung up).
    auto vanished = [&](int code) {
        TRACE("CCommPort::ReaderThreadProc(): device gone\n");
        // The reason first: whoever learns of the status may stop the reader
        // at once, and a stopping reader shows nothing more.
        report(CWin32Err("ReadFile", code));
        send(r.setup.notify, WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(-1)), 0);
    };

    int emptyWakes = 0;
    while (!r.stop) {
        const TDeviceEvents events = device.Wait(TDeviceEvents::Input, -1);
        if (r.stop) break;
        if (HasAny(events, TDeviceEvents::Failed)) {
            const int err = errno;
            // A device closed under the wait is gone, as an unplugged one.
            if (DeviceGone(err))
                vanished(EIO);
            else
                report(CWin32Err("WaitForMultipleObjects", err));
            break;
        }
        // Interrupted for a stop that was not this thread's (see Stop).
        if (!HasAny(events, TDeviceEvents::Input | TDeviceEvents::HungUp)) continue;
        const bool gone = HasAny(events, TDeviceEvents::HungUp);
        if (HasAny(events, TDeviceEvents::Input)) {
            unsigned queued = 0;
            if (!device.QueuedInput(queued)) {
                int err = errno;
                if (gone || DeviceGone(err))
                    vanished(err ? err : EIO);
                else
                    report(CWin32Err("ClearCommError", err));
                break;
            }
            // Grow to hold everything queued, rounded up to a multiple of 4.
            if (queued > buf.size()) buf.resize((static_cast<std::size_t>(queued) + 1 + 3) / 4 * 4);
            ssize_t n = device.Read(buf.data(), queued ? queued : buf.size());
            if (n > 0) {
                emptyWakes = 0;
                if (r.setup.trace) r.setup.trace->Received(buf.data(), static_cast<std::size_t>(n));
                send(r.setup.notify, WM_COMMSTATUS, 1, n);
                send(r.setup.target, WM_COMMDATA, static_cast<std::uintptr_t>(n),
                     reinterpret_cast<std::intptr_t>(buf.data()));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                int err = errno;
                if (gone || DeviceGone(err))
                    vanished(err);
                else
                    report(CWin32Err("ReadFile", err));
                break;
            }
        }
        if (gone) {
            vanished(EIO);
            break;
        }
        // Readable but nothing to read: a tty does that only once its
        // device has gone (or when a Read on the other thread won the race).
        if (++emptyWakes >= kMaxEmptyWakes) {
            vanished(EIO);
            break;
        }
    }

    std::lock_guard<std::mutex> lock(r.mutex);
    r.ended = true;
    if (r.closeDeviceOnEnd) device.Close();
    r.cv.notify_all();
}
