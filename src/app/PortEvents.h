// The port's numbered messages (WM_COMMSTATUS, WM_STATUSTEXT, WM_COMMDATA)
// and its reporter's calls, turned into typed Qt signals on the GUI thread.
// The window owns one and wires its signals to itself and the pages.
//
// From another thread (the port's reader) a report is a blocking queued
// call: the reader waits until the signal has been handled on the GUI thread,
// as the port's synchronous send requires. On the GUI thread it is a plain
// emit. A closed gate makes shutdown safe: new calls from other threads are
// refused, and a call already waiting returns, undelivered, at once (its
// queued call is dropped, which Qt answers by releasing the waiting sender).
// Destroying the object closes the gate first.
//
// The exception is what the reader sends for every block it reads, its
// count (WM_COMMSTATUS 1) and its bytes: waking the GUI thread twice a block
// costs more than showing the text. They are copied into a batch and the
// reader goes on at once. One delivery is pending at a time: queued for the
// first block after a quiet spell, then, while blocks keep coming, one every
// kHoldMs. Blocks that come while it is pending join its batch, so the GUI
// thread wakes once a batch: CommStatus(1, the batch's bytes), then
// DataReceived with them all, in order. Whatever else the adapter emits is
// preceded by the batch, so nothing the reader sends later overtakes it.
// Only when a batch has grown large does the reader wait for it.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MessageTarget.h"

class CPortEvents : public QObject, public CMessageTarget {
    Q_OBJECT

public:
    explicit CPortEvents(QObject* parent = nullptr);
    ~CPortEvents() override;

    // The port's edge. Other message numbers are ignored; the result is 0.
    std::intptr_t Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    void Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;

    // The port reporter's failure for the user's eyes, from any thread. When
    // the gate refuses it the text goes to standard error.
    void ReportError(const std::string& text);
    // The port or the configuration changed (GUI thread).
    void NotifyPortStateChanged() { emit PortStateChanged(); }
    void NotifyClockStateChanged() { emit ClockStateChanged(); }

    // The gate; open from construction. Closing it drops a waiting batch.
    void SetOpen(bool open);
    bool IsOpen() const;
    // Calls from other threads waiting to be handled, a queued batch included.
    int WaitingCount() const;
    // Delivers the reader's waiting batch now (GUI thread): once reading has
    // stopped, what was read before is handled before anything else.
    void DeliverPending();

    // A batch at least this large makes the reader wait until it is delivered.
    static constexpr qsizetype kMaxBatch = 1024 * 1024;
    // While blocks keep coming, batches are delivered this often: the pace at
    // which the Console page shows text and the status line its counts.
    static constexpr int kHoldMs = 250;

signals:
    // A port status code (0 opened, 1 read n, 2 wrote n, 3 error, 4 time-out,
    // -1 closed after a failure, other: a string id) and its count.
    void CommStatus(int code, int count);
    // The reader found the device gone (its -1).
    void DeviceGone();
    // A status text by string id.
    void StatusText(unsigned id);
    // Bytes the reader received.
    void DataReceived(const QByteArray& bytes);
    // A failure to show in a message box.
    void ErrorText(const QString& text);
    void PortStateChanged();
    void ClockStateChanged();

private:
    // Emits what a port message means; fromReader: sent by another thread.
    void Emit(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool fromReader);
    // Runs emit on the GUI thread and waits for it; false when refused.
    bool CallFromOtherThread(const std::function<void()>& emitter);
    // A block's count (bytes null) or bytes from another thread, into the batch.
    void AddToBatch(int count, const char* bytes, qsizetype size);
    // The queued delivery and the hold's end (GUI thread).
    void OnBatchQueued();
    void OnHoldEnd();
    // Takes the batch and emits it; false when it was empty.
    bool EmitBatch();

    struct TGate;
    // Shared with the senders: they may still leave it after this object is gone.
    std::shared_ptr<TGate> m_gate;
    QTimer* m_holdTimer = nullptr;
};
