#include "GuiCall.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace {

enum class ECallState { Waiting, Running, Done, Released };

struct TCall {
    std::mutex m_mutex;
    std::condition_variable m_cv;
    ECallState m_state = ECallState::Waiting;
};

std::mutex g_gateMutex;
bool g_open = true;
std::set<std::shared_ptr<TCall>> g_waiting;

// Travels with the queued functor. When Qt drops the functor without running
// it (the receiver was deleted), the last copy releases the waiting caller.
struct TCallGuard {
    explicit TCallGuard(std::shared_ptr<TCall> call) : m_call(std::move(call)) {}
    TCallGuard(const TCallGuard&) = delete;
    TCallGuard& operator=(const TCallGuard&) = delete;
    std::shared_ptr<TCall> m_call;
    ~TCallGuard() {
        {
            std::lock_guard<std::mutex> lock(m_call->m_mutex);
            if (m_call->m_state != ECallState::Waiting) return;
            m_call->m_state = ECallState::Released;
        }
        m_call->m_cv.notify_all();
    }
};

}  // namespace

bool CGuiCall::Run(QObject* receiver, const std::function<void()>& fn) {
    if (!receiver) return false;
    if (QThread::currentThread() == receiver->thread()) {
        fn();
        return true;
    }

    auto call = std::make_shared<TCall>();
    {
        std::lock_guard<std::mutex> lock(g_gateMutex);
        if (!g_open) return false;
        g_waiting.insert(call);
    }

    auto guard = std::make_shared<TCallGuard>(call);
    QMetaObject::invokeMethod(
        receiver,
        [guard, fn] {
            TCall& c = *guard->m_call;
            {
                std::lock_guard<std::mutex> lock(c.m_mutex);
                if (c.m_state != ECallState::Waiting) return;  // released meanwhile
                c.m_state = ECallState::Running;
            }
            fn();
            {
                std::lock_guard<std::mutex> lock(c.m_mutex);
                c.m_state = ECallState::Done;
            }
            c.m_cv.notify_all();
        },
        Qt::QueuedConnection);
    guard.reset();

    bool done = false;
    {
        std::unique_lock<std::mutex> lock(call->m_mutex);
        call->m_cv.wait(lock, [&] {
            return call->m_state == ECallState::Done || call->m_state == ECallState::Released;
        });
        done = call->m_state == ECallState::Done;
    }
    std::lock_guard<std::mutex> lock(g_gateMutex);
    g_waiting.erase(call);
    return done;
}

void CGuiCall::SetOpen(bool open) {
    std::lock_guard<std::mutex> lock(g_gateMutex);
    g_open = open;
    if (open) return;
    // A call already running finishes normally: its caller's data is in use.
    for (const auto& call : g_waiting) {
        {
            std::lock_guard<std::mutex> callLock(call->m_mutex);
            if (call->m_state != ECallState::Waiting) continue;
            call->m_state = ECallState::Released;
        }
        call->m_cv.notify_all();
    }
}

bool CGuiCall::IsOpen() {
    std::lock_guard<std::mutex> lock(g_gateMutex);
    return g_open;
}

int CGuiCall::WaitingCount() {
    std::lock_guard<std::mutex> lock(g_gateMutex);
    int waiting = 0;
    for (const auto& call : g_waiting) {
        std::lock_guard<std::mutex> callLock(call->m_mutex);
        if (call->m_state == ECallState::Waiting) ++waiting;
    }
    return waiting;
}
