#include "PortEvents.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <mutex>

#include "Messages.h"

struct CPortEvents::TGate {
    std::mutex m_mutex;
    bool m_open = true;
    int m_waiting = 0;  // passed the gate, not yet running nor released
};

namespace {
// SetOpen(false) looks for late senders for at most this many milliseconds.
constexpr int kReleaseRounds = 2000;
}  // namespace

CPortEvents::CPortEvents(QObject* parent) : QObject(parent), m_gate(std::make_shared<TGate>()) {}

// No sender may be left waiting for an object that is gone.
CPortEvents::~CPortEvents() { SetOpen(false); }

std::intptr_t CPortEvents::Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    if (QThread::currentThread() == thread()) {
        Emit(msg, wParam, lParam, false);
        return 0;
    }
    if (msg == WM_COMMDATA) {
        // The bytes are valid during the send only: copied before it returns.
        const QByteArray bytes(reinterpret_cast<const char*>(lParam), static_cast<qsizetype>(wParam));
        CallFromOtherThread([this, bytes] { emit DataReceived(bytes); });
        return 0;
    }
    CallFromOtherThread([this, msg, wParam, lParam] { Emit(msg, wParam, lParam, true); });
    return 0;
}

void CPortEvents::Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    // Posted bytes could be gone by the time they are handled: not carried.
    if (msg == WM_COMMDATA) return;
    const bool fromReader = QThread::currentThread() != thread();
    QMetaObject::invokeMethod(
        this, [this, msg, wParam, lParam, fromReader] { Emit(msg, wParam, lParam, fromReader); },
        Qt::QueuedConnection);
}

void CPortEvents::Emit(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool fromReader) {
    switch (msg) {
    case WM_COMMSTATUS: {
        // The code travels as a signed 32-bit number.
        const int code = static_cast<int>(static_cast<std::int32_t>(wParam));
        // Only the reader reports -1 from its thread: the device went away.
        if (code == -1 && fromReader)
            emit DeviceGone();
        else
            emit CommStatus(code, static_cast<int>(lParam));
        break;
    }
    case WM_STATUSTEXT:
        emit StatusText(static_cast<unsigned>(wParam));
        break;
    case WM_COMMDATA:
        emit DataReceived(QByteArray(reinterpret_cast<const char*>(lParam), static_cast<qsizetype>(wParam)));
        break;
    default:
        break;
    }
}

void CPortEvents::ReportError(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        emit ErrorText(shown);
        return;
    }
    // When the program is closing the call is refused; the text still goes somewhere.
    if (!CallFromOtherThread([this, shown] { emit ErrorText(shown); })) std::fprintf(stderr, "%s\n", text.c_str());
}

bool CPortEvents::CallFromOtherThread(const std::function<void()>& emitter) {
    const std::shared_ptr<TGate> gate = m_gate;
    {
        std::lock_guard<std::mutex> lock(gate->m_mutex);
        if (!gate->m_open) return false;
        ++gate->m_waiting;
    }
    bool started = false;
    bool delivered = false;
    // Runs on the GUI thread, unless the queued call is dropped first.
    QMetaObject::invokeMethod(
        this,
        [&gate, &emitter, &started, &delivered] {
            {
                std::lock_guard<std::mutex> lock(gate->m_mutex);
                started = true;
                --gate->m_waiting;
                if (!gate->m_open) return;
            }
            delivered = true;
            emitter();
        },
        Qt::BlockingQueuedConnection);
    // Nothing of this object is touched from here on: it may be gone.
    std::lock_guard<std::mutex> lock(gate->m_mutex);
    if (!started) --gate->m_waiting;
    return delivered;
}

void CPortEvents::SetOpen(bool open) {
    {
        std::lock_guard<std::mutex> lock(m_gate->m_mutex);
        m_gate->m_open = open;
    }
    if (open) return;
    // Drops the queued calls, which lets their senders go. A sender that
    // passed the gate just before it closed posts a moment later: looked for
    // again until every one has gone (bounded, in case one never posts).
    for (int round = 0; round < kReleaseRounds; ++round) {
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
        if (WaitingCount() == 0) return;
        QThread::msleep(1);
    }
}

bool CPortEvents::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_gate->m_mutex);
    return m_gate->m_open;
}

int CPortEvents::WaitingCount() const {
    std::lock_guard<std::mutex> lock(m_gate->m_mutex);
    return m_gate->m_waiting;
}
