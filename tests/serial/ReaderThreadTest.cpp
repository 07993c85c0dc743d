// The reader thread: delivery, stopping (also while a send waits for the
// user-interface thread), a device that goes away, and its idle cost.
#include <time.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <thread>

#include "SerialTestSupport.h"

namespace {

// Like the GUI's targets: a Send from another thread waits until the owning
// thread pumps; the receiver may also go away while a Send waits.
class CQueuedTarget : public CMessageTarget {
public:
    std::intptr_t Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override {
        if (std::this_thread::get_id() == m_owner) {
            m_inner.Send(msg, wParam, lParam);
            return 0;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_gone) return 0;
        auto job = std::make_shared<TJob>(TJob{msg, wParam, lParam, false});
        m_jobs.push_back(job);
        ++m_waiting;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return job->done || m_gone; });
        --m_waiting;
        return 0;
    }
    void Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override { Send(msg, wParam, lParam); }

    // Runs the waiting sends on this (the owning) thread.
    void Pump() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_jobs.empty()) {
            auto job = m_jobs.front();
            m_jobs.pop_front();
            lock.unlock();
            m_inner.Send(job->msg, job->wParam, job->lParam);
            lock.lock();
            job->done = true;
            m_cv.notify_all();
        }
    }
    bool WaitUntilSendWaits(int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_waiting > 0; });
    }
    // The receiver is destroyed: waiting sends return undelivered.
    void Destroy() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gone = true;
        m_cv.notify_all();
    }
    int Waiting() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waiting;
    }
    CRecordingTarget& Delivered() { return m_inner; }

private:
    struct TJob {
        unsigned msg;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        bool done;
    };
    std::thread::id m_owner = std::this_thread::get_id();
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::shared_ptr<TJob>> m_jobs;
    int m_waiting = 0;
    bool m_gone = false;
    CRecordingTarget m_inner;
};

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

class ReaderThreadTest : public CSerialTest {
protected:
    void TearDown() override {
        SetPumpHook(nullptr);
        CSerialTest::TearDown();
    }
};

TEST_F(ReaderThreadTest, NothingStartsOnAClosedPort) {
    CCommPort port(&m_reporter);
    CRecordingTarget target;
    port.ReadStart(&target);
    port.ReadStop();
    EXPECT_TRUE(target.Messages().empty());
}

TEST_F(ReaderThreadTest, LargeStreamArrivesInOrderWithNothingLost) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CCommPort port(&m_reporter);
    CRecordingTarget notify, console;
    port.SetNotifyWnd(&notify);
    ASSERT_TRUE(port.Open(pty.Path()));
    notify.Clear();
    port.ReadStart(&console);

    const std::string stream = Pattern(512 * 1024);
    std::thread writer([&] { pty.Send(stream); });
    const bool all = console.WaitForData(stream.size(), 30000);
    writer.join();
    port.ReadStop();
    ASSERT_TRUE(all) << console.Data().size() << " of " << stream.size();
    EXPECT_TRUE(console.Data() == stream);

    // Every block is announced with its size first.
    auto blocks = console.Blocks();
    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(status[i].Code(), 1);
        EXPECT_EQ(static_cast<std::uintptr_t>(status[i].lParam), blocks[i]);
    }
}

TEST_F(ReaderThreadTest, EverythingQueuedComesAsOneBlock) {
    auto port = MakeFakePort();
    CRecordingTarget console;
    ASSERT_TRUE(port->Open("COM1"));
    const std::string queued = Pattern(1500);
    ASSERT_TRUE(m_fake->PeerWrite(queued));
    port->ReadStart(&console);
    ASSERT_TRUE(console.WaitForData(queued.size()));
    port->ReadStop();
    ASSERT_EQ(console.Blocks().size(), 1u);
    EXPECT_EQ(console.Blocks()[0], 1500u);
    EXPECT_EQ(console.Data(), queued);
}

TEST_F(ReaderThreadTest, SecondStartKeepsTheFirstTarget) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CCommPort port(&m_reporter);
    CRecordingTarget first, second;
    ASSERT_TRUE(port.Open(pty.Path()));
    port.ReadStart(&first);
    port.ReadStart(&second);
    ASSERT_TRUE(pty.Send("abc"));
    EXPECT_TRUE(first.WaitForData(3));
    port.ReadStop();
    EXPECT_EQ(first.Data(), "abc");
    EXPECT_TRUE(second.Messages().empty());
}

TEST_F(ReaderThreadTest, NothingIsDeliveredAfterReadStopWhileStreaming) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CCommPort port(&m_reporter);
    CRecordingTarget console;
    ASSERT_TRUE(port.Open(pty.Path()));
    port.ReadStart(&console);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const std::string chunk = Pattern(256);
        while (!stop) {
            if (::write(pty.Master(), chunk.data(), chunk.size()) < 0) {
                pollfd p{pty.Master(), POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    });
    ASSERT_TRUE(console.WaitForData(4096));
    port.ReadStop();
    const std::size_t seen = console.Data().size();
    SleepMs(50);
    EXPECT_EQ(console.Data().size(), seen);
    stop = true;
    writer.join();
}

TEST_F(ReaderThreadTest, ReadStopDispatchesTheSendItIsWaitingFor) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CCommPort port(&m_reporter);
    CQueuedTarget console;  // owned by this thread, like a page
    ASSERT_TRUE(port.Open(pty.Path()));
    int pumps = 0;
    SetPumpHook([&] {
        ++pumps;
        console.Pump();
        return true;
    });
    port.ReadStart(&console);
    ASSERT_TRUE(pty.Send("Halvern"));
    ASSERT_TRUE(console.WaitUntilSendWaits());

    port.ReadStop();  // would hang here if it did not pump
    EXPECT_GT(pumps, 0);
    EXPECT_EQ(console.Waiting(), 0);
    EXPECT_EQ(console.Delivered().Data(), "Halvern");
}

TEST_F(ReaderThreadTest, HandlerClosingThePortWhileReadStopWaits) {
    auto port = MakeFakePort();
    CQueuedTarget console;
    ASSERT_TRUE(port->Open("COM1"));
    bool closedInHandler = false, openDuringWait = false;
    SetPumpHook([&] {
        if (!closedInHandler) {
            closedInHandler = true;
            port->Close();
            openDuringWait = m_fake->IsOpen();  // the stopping thread still polls it
        }
        console.Pump();
        return true;
    });
    port->ReadStart(&console);
    ASSERT_TRUE(m_fake->PeerWrite("x"));
    ASSERT_TRUE(console.WaitUntilSendWaits());

    port->ReadStop();
    EXPECT_TRUE(closedInHandler);
    EXPECT_TRUE(openDuringWait);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_FALSE(m_fake->IsOpen());  // closed by the thread before it was joined
    EXPECT_EQ(console.Delivered().Data(), "x");
}

TEST_F(ReaderThreadTest, ReaderStartedByAHandlerWhileCloseWaitsIsStoppedToo) {
    auto port = MakeFakePort();
    CQueuedTarget console;
    CRecordingTarget other;
    ASSERT_TRUE(port->Open("COM1"));
    const std::size_t threadsBefore = std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                    std::filesystem::directory_iterator());
    bool restarted = false;
    SetPumpHook([&] {
        if (!restarted) {
            restarted = true;
            port->ReadStart(&other);  // the Console page shown again meanwhile
        }
        console.Pump();
        return true;
    });
    port->ReadStart(&console);
    ASSERT_TRUE(m_fake->PeerWrite("x"));
    ASSERT_TRUE(console.WaitUntilSendWaits());

    port->Close();
    EXPECT_TRUE(restarted);
    EXPECT_FALSE(m_fake->IsOpen());
    // No reader is left polling the closed device.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                            std::filesystem::directory_iterator()),
              static_cast<std::ptrdiff_t>(threadsBefore));
}

TEST_F(ReaderThreadTest, ClosingApplicationLeavesTheThreadHarmless) {
    // The pump says the application is closing while the reader waits in a
    // Send that will never be dispatched.
    auto port = MakeFakePort();
    CQueuedTarget notify;
    CRecordingTarget console;
    ASSERT_TRUE(port->Open("COM1"));
    port->SetNotifyWnd(&notify);
    SetPumpHook([] { return false; });
    port->ReadStart(&console);
    ASSERT_TRUE(m_fake->PeerWrite("tick"));
    ASSERT_TRUE(notify.WaitUntilSendWaits());

    port->ReadStop();
    port->Close();
    EXPECT_FALSE(port->IsOpen());
    // The thread still polls the device, so it is not closed under it.
    EXPECT_TRUE(m_fake->IsOpen());

    notify.Destroy();  // the page goes away; its waiting Send returns
    EXPECT_TRUE(m_fake->WaitClosed(5000));
    EXPECT_TRUE(console.Messages().empty());
    EXPECT_TRUE(notify.Delivered().Messages().empty());
    port.reset();
}

TEST_F(ReaderThreadTest, VanishedDeviceEndsTheThreadWithOneReport) {
    auto pty = std::make_unique<CPseudoTerminal>();
    ASSERT_TRUE(pty->Ok());
    WriteProfileInt("Debug", "Verbose", 1);
    CCommPort port(&m_reporter);
    CRecordingTarget notify, console;
    port.SetNotifyWnd(&notify);
    ASSERT_TRUE(port.Open(pty->Path()));
    notify.Clear();
    port.ReadStart(&console);

    pty->CloseMaster();  // as when a USB adapter is pulled
    ASSERT_TRUE(notify.WaitFor([&] { return !notify.Messages().empty(); }));
    port.ReadStop();
    auto status = notify.Messages(WM_COMMSTATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].Code(), -1);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], std::string(std::strerror(EIO)) + "\n");

    // The device comes back (here: a new one); it opens and delivers again.
    pty = std::make_unique<CPseudoTerminal>();
    ASSERT_TRUE(pty->Ok());
    ASSERT_TRUE(port.Open(pty->Path()));
    port.ReadStart(&console);
    ASSERT_TRUE(pty->Send("back"));
    EXPECT_TRUE(console.WaitForData(4));
    port.ReadStop();
    EXPECT_EQ(console.Data(), "back");
}

TEST_F(ReaderThreadTest, ThreadEndedByFailureCanBeStartedAgain) {
    auto port = MakeFakePort();
    CRecordingTarget notify, console;
    port->SetNotifyWnd(&notify);
    ASSERT_TRUE(port->Open("COM1"));
    port->ReadStart(&console);
    ASSERT_TRUE(m_fake->PeerWrite("last words"));
    m_fake->HangUp();
    ASSERT_TRUE(notify.WaitFor([&] { return !notify.Messages(WM_COMMSTATUS).empty() &&
                                            notify.Messages(WM_COMMSTATUS).back().Code() == -1; }));
    // What came before the hang-up was still delivered.
    EXPECT_EQ(console.Data(), "last words");

    ASSERT_TRUE(port->Open("COM1"));
    port->ReadStart(&console);
    ASSERT_TRUE(m_fake->PeerWrite("!"));
    EXPECT_TRUE(console.WaitForData(11));
    port->ReadStop();
}

TEST_F(ReaderThreadTest, IdleReaderUsesAlmostNoProcessorTime) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    CCommPort port(&m_reporter);
    CRecordingTarget console;
    ASSERT_TRUE(port.Open(pty.Path()));
    std::vector<long long> cpuNs;
    std::mutex cpuMutex;
    // Runs on the reader thread: its own processor time so far.
    console.OnSend([&] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        std::lock_guard<std::mutex> lock(cpuMutex);
        cpuNs.push_back(static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
    });
    port.ReadStart(&console);
    ASSERT_TRUE(pty.Send("a"));
    ASSERT_TRUE(console.WaitForData(1));
    SleepMs(1000);
    ASSERT_TRUE(pty.Send("b"));
    ASSERT_TRUE(console.WaitForData(2));
    port.ReadStop();
    std::lock_guard<std::mutex> lock(cpuMutex);
    ASSERT_EQ(cpuNs.size(), 2u);
    EXPECT_LT(cpuNs[1] - cpuNs[0], 50LL * 1000000LL);
}

}  // namespace
