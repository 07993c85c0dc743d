// The port's messages across threads, through the window's adapter: a send
// from another thread becomes a typed signal handled on the GUI thread while
// the sender waits (the reader's blocks without waiting), posts are queued, a
// closed gate or a vanished adapter never leaves a sender hanging, and the
// port's reader thread delivers and stops mid-delivery.
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CommPort.h"
#include "GuiTestSupport.h"
#include "Messages.h"
#include "PortEvents.h"
#include "Profile.h"
#include "Waits.h"
#include "QtClockUi.h"
#include "QtWaitHooks.h"

namespace {

// Waits, without dispatching anything, until a thread's call is waiting.
bool WaitForBlockedSender(const CPortEvents& events, int limitMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (events.WaitingCount() == 0) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Keeps what the reader thread hands over, as the Console page would.
struct TRecorder {
    explicit TRecorder(CPortEvents& events) {
        QObject::connect(&events, &CPortEvents::DataReceived, &events, [this](const QByteArray& bytes) {
            received += bytes.toStdString();
            ++blocks;
        });
    }
    std::string received;
    int blocks = 0;
};

}  // namespace

class CMessageTargetTest : public QObject {
    Q_OBJECT

private slots:
    void SendFromAnotherThreadRunsOnGuiThread();
    void PostIsHandledLater();
    void ClosedGateReleasesAndRefuses();
    void DeletedAdapterReleasesSender();
    void MessageBoxFromAnotherThread();
    void ReaderDeliversAndStopsMidDelivery();
    void WaitInQueuedHandlerDeliversEarlierSends();
    void ReaderStopWhileClosingDoesNotHang();
};

void CMessageTargetTest::SendFromAnotherThreadRunsOnGuiThread() {
    CPortEvents events;
    QThread* handledOn = nullptr;
    std::vector<std::pair<int, int>> statuses;
    int gone = 0;
    std::vector<unsigned> texts;
    connect(&events, &CPortEvents::CommStatus, this, [&](int code, int count) {
        handledOn = QThread::currentThread();
        statuses.emplace_back(code, count);
    });
    connect(&events, &CPortEvents::DeviceGone, this, [&] { ++gone; });
    connect(&events, &CPortEvents::StatusText, this, [&](unsigned id) { texts.push_back(id); });
    std::atomic<bool> done{false};
    std::thread sender([&] {
        events.Send(WM_COMMSTATUS, 5, 7);
        // The code travels as a signed 32-bit number; -1 from the reader's
        // thread is its device gone.
        events.Send(WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(-1)), 0);
        events.Send(WM_STATUSTEXT, 40001, 0);
        done = true;
    });
    QVERIFY(PumpUntil([&] { return done.load(); }));
    sender.join();
    QCOMPARE(handledOn, QThread::currentThread());
    QCOMPARE(statuses, (std::vector<std::pair<int, int>>{{5, 7}}));
    QCOMPARE(gone, 1);
    QCOMPARE(texts, std::vector<unsigned>{40001});

    // On its own thread a send is a plain call, and -1 a plain status.
    events.Send(WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(-1)), 0);
    QCOMPARE(statuses.back(), std::make_pair(-1, 0));
    QCOMPARE(gone, 1);
    // Numbers the port never sends are ignored.
    events.Send(WM_CONSOLESHOW, 1, 0);
    QCOMPARE(statuses.size(), std::size_t(2));
}

void CMessageTargetTest::PostIsHandledLater() {
    CPortEvents events;
    std::vector<std::pair<int, int>> seen;
    connect(&events, &CPortEvents::CommStatus, this, [&](int code, int count) { seen.emplace_back(code, count); });
    events.Post(WM_COMMSTATUS, 1, 3);
    events.Post(WM_COMMSTATUS, 2, 4);
    QVERIFY(seen.empty());
    QVERIFY(PumpUntil([&] { return seen.size() == 2; }));
    QCOMPARE(seen, (std::vector<std::pair<int, int>>{{1, 3}, {2, 4}}));
}

void CMessageTargetTest::ClosedGateReleasesAndRefuses() {
    CPortEvents events;
    int handled = 0;
    connect(&events, &CPortEvents::DataReceived, this, [&](const QByteArray&) { ++handled; });
    const char byte = 'x';
    const auto data = reinterpret_cast<std::intptr_t>(&byte);
    std::thread sender([&] { events.Send(WM_COMMDATA, 1, data); });
    QVERIFY(WaitForBlockedSender(events));
    events.SetOpen(false);
    sender.join();  // released without the GUI thread dispatching anything
    QCOMPARE(events.WaitingCount(), 0);

    // The dropped call never runs later, and new ones are refused at once.
    QCoreApplication::processEvents();
    QCOMPARE(handled, 0);
    std::thread refused([&] { events.Send(WM_COMMDATA, 1, data); });
    refused.join();
    QCOMPARE(handled, 0);

    events.SetOpen(true);
    std::thread accepted([&] { events.Send(WM_COMMDATA, 1, data); });
    QVERIFY(PumpUntil([&] { return handled == 1; }));
    accepted.join();
}

void CMessageTargetTest::DeletedAdapterReleasesSender() {
    auto events = std::make_unique<CPortEvents>();
    std::atomic<bool> returned{false};
    std::thread sender([&, e = events.get()] {
        e->Send(WM_COMMSTATUS, 0, 0);
        returned = true;
    });
    QVERIFY(WaitForBlockedSender(*events));
    events.reset();
    sender.join();
    QVERIFY(returned.load());
}

void CMessageTargetTest::MessageBoxFromAnotherThread() {
    // The port's reporter fails on the reader thread: the box is the window's,
    // shown on the GUI thread while the reporter waits.
    QWidget owner;
    CQtClockUi ui(&owner);
    CPortEvents events;
    connect(&events, &CPortEvents::ErrorText, this, [&](const QString& text) { ui.ShowMessage(text.toStdString()); });
    std::atomic<bool> done{false};
    // The box runs its own loop on the GUI thread; a timer inside that loop
    // looks at it while the reporter still waits, then presses OK.
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    bool reporterWaited = false;
    QTimer watcher;
    watcher.setInterval(5);
    connect(&watcher, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        reporterWaited = !done.load();
        box->button(QMessageBox::Ok)->click();
    });
    watcher.start();
    std::thread reporter([&] {
        events.ReportError("ReadFile\nInput/output error");
        done = true;
    });
    QVERIFY(PumpUntil([&] { return done.load(); }));
    reporter.join();
    watcher.stop();
    QCOMPARE(text, QStringLiteral("ReadFile\nInput/output error"));
    QCOMPARE(title, QString::fromStdString(GetAppName()));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, 1);
    QVERIFY(reporterWaited);
}

void CMessageTargetTest::ReaderDeliversAndStopsMidDelivery() {
    CGuiProfile profile;
    CQtWaitHooks::Install();
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    CPortEvents events;
    TRecorder page(events);
    {
        CCommPort port;
        QVERIFY(port.Open(pty.SlaveName()));
        port.ReadStart(&events);
        QVERIFY(pty.WriteToPort("$GPS 12:00:00\r\n"));
        QVERIFY(PumpUntil([&] { return page.received == "$GPS 12:00:00\r\n"; }));

        // A block handed over but not yet delivered when reading stops is
        // delivered then, as the window does.
        QVERIFY(pty.WriteToPort("more"));
        QVERIFY(WaitForBlockedSender(events));
        port.ReadStop();
        events.DeliverPending();
        QVERIFY2(page.received == "$GPS 12:00:00\r\nmore", page.received.c_str());

        // Nothing arrives once reading has stopped.
        const int blocks = page.blocks;
        QVERIFY(pty.WriteToPort("late"));
        QTest::qWait(50);
        QCOMPARE(page.blocks, blocks);
    }
    CQtWaitHooks::Uninstall();
}

void CMessageTargetTest::WaitInQueuedHandlerDeliversEarlierSends() {
    // As when the window stops the reader on the Console page's queued
    // hiding while the reader's send is already queued behind it: the wait
    // must deliver it.
    CQtWaitHooks::Install();
    CPortEvents events;
    std::atomic<bool> delivered{false};
    std::atomic<bool> sent{false};
    int pumps = 0;
    connect(&events, &CPortEvents::DeviceGone, this, [&] { delivered = true; });
    QMetaObject::invokeMethod(
        this, [&] { while (!delivered && pumps < 100 && PumpWaitingMessages()) ++pumps; }, Qt::QueuedConnection);
    std::thread reader([&] {
        events.Send(WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(-1)), 0);
        sent = true;
    });
    QVERIFY(WaitForBlockedSender(events));
    QVERIFY(PumpUntil([&] { return sent.load(); }));
    reader.join();
    QVERIFY(delivered.load());
    QVERIFY2(pumps < 100, "the queued send was not delivered inside the wait");
    CQtWaitHooks::Uninstall();
}

void CMessageTargetTest::ReaderStopWhileClosingDoesNotHang() {
    CGuiProfile profile;
    CQtWaitHooks::Install();
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    CPortEvents events;
    TRecorder page(events);
    {
        CCommPort port;
        QVERIFY(port.Open(pty.SlaveName()));
        port.ReadStart(&events);
        QVERIFY(pty.WriteToPort("x"));
        QVERIFY(WaitForBlockedSender(events));
        // The program is closing: the pump gives up and the gate lets the
        // reader go, so stopping and closing return although nothing is
        // dispatched any more.
        CQtWaitHooks::SetClosePending(true);
        events.SetOpen(false);
        port.ReadStop();
        port.Close();
        QVERIFY(!port.IsOpen());
    }
    QCOMPARE(page.blocks, 0);
    CQtWaitHooks::SetClosePending(false);
    CQtWaitHooks::Uninstall();
}

QTEST_MAIN(CMessageTargetTest)
#include "MessageTargetTest.moc"
