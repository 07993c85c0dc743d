#include "PortEvents.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>
#include <utility>

#include "ConsoleDlg.h"
#include "FloatStatus.h"
#include "Messages.h"

struct CPortEvents::TGate {
    std::mutex m_mutex;
    bool m_open = true;
    int m_waiting = 0;  // passed the gate, not yet running nor released
    // The reader's blocks not yet delivered.
    QByteArray m_bytes;
    long long m_readCount = 0;
    bool m_hasCount = false;
    bool m_queued = false;   // a delivery of the batch is queued
    bool m_holding = false;  // the hold's end delivers it
};

namespace {
// SetOpen(false) looks for late senders for at most this many milliseconds.
constexpr int kReleaseRounds = 2000;
// A hold longer than these would only delay what the user sees.
static_assert(CPortEvents::kHoldMs <= CConsoleDlg::kShowIntervalMs &&
              CPortEvents::kHoldMs <= CFloatStatus::kCountIntervalMs);
}  // namespace

CPortEvents::CPortEvents(QObject* parent)
    : QObject(parent), m_gate(std::make_shared<TGate>()), m_holdTimer(new QTimer(this)) {
    m_holdTimer->setSingleShot(true);
    m_holdTimer->setInterval(kHoldMs);
    connect(m_holdTimer, &QTimer::timeout, this, &CPortEvents::OnHoldEnd);
}

// No sender may be left waiting for an object that is gone.
CPortEvents::~CPortEvents() { SetOpen(false); }

std::intptr_t CPortEvents::Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    if (QThread::currentThread() == thread()) {
        Emit(msg, wParam, lParam, false);
        return 0;
    }
    if (msg == WM_COMMDATA) {
        // The bytes are valid during the send only: copied before it returns.
        if (lParam && wParam > 0)
            AddToBatch(0, reinterpret_cast<const char*>(lParam), static_cast<qsizetype>(wParam));
        return 0;
    }
    if (msg == WM_COMMSTATUS && static_cast<std::int32_t>(wParam) == 1) {
        AddToBatch(static_cast<int>(lParam), nullptr, 0);
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
    DeliverPending();
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
        DeliverPending();
        emit ErrorText(shown);
        return;
    }
    // When the program is closing the call is refused; the text still goes somewhere.
    if (!CallFromOtherThread([this, shown] { emit ErrorText(shown); })) std::fprintf(stderr, "%s\n", text.c_str());
}

void CPortEvents::AddToBatch(int count, const char* bytes, qsizetype size) {
    const std::shared_ptr<TGate> gate = m_gate;
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(gate->m_mutex);
        if (!gate->m_open) return;
        if (bytes) {
            gate->m_bytes.append(bytes, size);
        } else {
            gate->m_readCount += count;
            gate->m_hasCount = true;
        }
        // Queued under the lock: once the gate has closed, none is queued any more.
        if (!gate->m_queued && !gate->m_holding) {
            gate->m_queued = true;
            QMetaObject::invokeMethod(this, &CPortEvents::OnBatchQueued, Qt::QueuedConnection);
        }
        full = gate->m_bytes.size() >= kMaxBatch;
    }
    // The GUI thread is far behind: the reader waits until it has taken the
    // batch (which the call delivers first), as for any report.
    if (full) CallFromOtherThread([] {});
}

void CPortEvents::OnBatchQueued() {
    {
        std::lock_guard<std::mutex> lock(m_gate->m_mutex);
        m_gate->m_queued = false;
        if (!m_gate->m_open) return;
        // Blocks that come from now on wait for the hold's end.
        m_gate->m_holding = true;
    }
    m_holdTimer->start();
    EmitBatch();
}

void CPortEvents::OnHoldEnd() {
    // A quiet hold ends holding: the next block is delivered at once.
    if (EmitBatch()) {
        m_holdTimer->start();
        return;
    }
    std::lock_guard<std::mutex> lock(m_gate->m_mutex);
    // A block may have come after the look: it is delivered by a new hold.
    if (m_gate->m_bytes.isEmpty() && !m_gate->m_hasCount) {
        m_gate->m_holding = false;
    } else {
        m_holdTimer->start();
    }
}

void CPortEvents::DeliverPending() { EmitBatch(); }

bool CPortEvents::EmitBatch() {
    QByteArray bytes;
    long long count = 0;
    bool hasCount = false;
    {
        std::lock_guard<std::mutex> lock(m_gate->m_mutex);
        bytes.swap(m_gate->m_bytes);
        count = std::exchange(m_gate->m_readCount, 0);
        hasCount = std::exchange(m_gate->m_hasCount, false);
    }
    if (hasCount) emit CommStatus(1, static_cast<int>(std::min<long long>(count, INT_MAX)));
    if (!bytes.isEmpty()) emit DataReceived(bytes);
    return hasCount || !bytes.isEmpty();
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
        [this, &gate, &emitter, &started, &delivered] {
            {
                std::lock_guard<std::mutex> lock(gate->m_mutex);
                started = true;
                --gate->m_waiting;
                if (!gate->m_open) return;
            }
            delivered = true;
            // What the reader sent before this comes first.
            DeliverPending();
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
        if (!open) {
            // Undelivered, as a waiting call is.
            m_gate->m_bytes.clear();
            m_gate->m_readCount = 0;
            m_gate->m_hasCount = false;
            m_gate->m_queued = false;
            m_gate->m_holding = false;
        }
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
    const bool batch = m_gate->m_queued || !m_gate->m_bytes.isEmpty() || m_gate->m_hasCount;
    return m_gate->m_waiting + (batch ? 1 : 0);
}
