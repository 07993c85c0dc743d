// Messages across threads: synchronous sends run on the GUI thread, posts are
// queued, a closed gate or a vanished receiver never leaves a sender hanging,
// and the port's reader thread delivers to a page and stops mid-delivery.
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

#include "CommPage.h"
#include "CommPort.h"
#include "GuiCall.h"
#include "GuiTestSupport.h"
#include "Messages.h"
#include "Profile.h"
#include "Prompts.h"
#include "QtMessageTarget.h"
#include "QtPromptHooks.h"

namespace {

// Waits, without dispatching anything, until a thread's call is waiting.
bool WaitForBlockedSender(int limitMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (CGuiCall::WaitingCount() == 0) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A page that keeps what the reader thread hands it.
class CRecordingPage : public CCommPage {
public:
    CRecordingPage() : CCommPage(131) {}
    std::string received;
    int blocks = 0;
    std::intptr_t OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override {
        if (msg == WM_COMMDATA) {
            received.append(reinterpret_cast<const char*>(lParam), wParam);
            ++blocks;
            return 0;
        }
        return CCommPage::OnMessage(msg, wParam, lParam);
    }
};

}  // namespace

class CMessageTargetTest : public QObject {
    Q_OBJECT

private slots:
    void init() { CGuiCall::SetOpen(true); }
    void SendFromAnotherThreadRunsOnGuiThread();
    void PostIsHandledLater();
    void ClosedGateReleasesAndRefuses();
    void DeletedReceiverReleasesSender();
    void MessageBoxFromAnotherThread();
    void ReaderDeliversAndStopsMidDelivery();
    void WaitInPostedHandlerDeliversEarlierSends();
    void ReaderStopWhileClosingDoesNotHang();
};

void CMessageTargetTest::SendFromAnotherThreadRunsOnGuiThread() {
    QThread* handledOn = nullptr;
    CQtMessageTarget target([&](unsigned msg, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
        handledOn = QThread::currentThread();
        return static_cast<std::intptr_t>(msg) + static_cast<std::intptr_t>(w) + l;
    });
    std::atomic<std::intptr_t> result{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        result = target.Send(WM_COMMSTATUS, 5, 7);
        done = true;
    });
    QVERIFY(PumpUntil([&] { return done.load(); }));
    sender.join();
    QCOMPARE(static_cast<long long>(result.load()), static_cast<long long>(WM_COMMSTATUS + 12));
    QCOMPARE(handledOn, QThread::currentThread());

    // On its own thread a send is a plain call.
    QCOMPARE(static_cast<long long>(target.Send(WM_STATUSTEXT, 1, 1)), static_cast<long long>(WM_STATUSTEXT + 2));
}

void CMessageTargetTest::PostIsHandledLater() {
    std::vector<std::pair<unsigned, std::uintptr_t>> seen;
    CQtMessageTarget target([&](unsigned msg, std::uintptr_t w, std::intptr_t) -> std::intptr_t {
        seen.emplace_back(msg, w);
        return 0;
    });
    target.Post(WM_CONSOLESHOW, 1, 0);
    target.Post(WM_CONSOLESHOW, 0, 0);
    target.Post(7, 3, 0);  // outside Qt's user event range: still delivered
    QVERIFY(seen.empty());
    QVERIFY(PumpUntil([&] { return seen.size() == 3; }));
    QCOMPARE(seen[0], std::make_pair(WM_CONSOLESHOW, std::uintptr_t{1}));
    QCOMPARE(seen[1], std::make_pair(WM_CONSOLESHOW, std::uintptr_t{0}));
    QCOMPARE(seen[2], std::make_pair(7u, std::uintptr_t{3}));
}

void CMessageTargetTest::ClosedGateReleasesAndRefuses() {
    int handled = 0;
    CQtMessageTarget target([&](unsigned, std::uintptr_t, std::intptr_t) -> std::intptr_t {
        ++handled;
        return 42;
    });
    std::atomic<std::intptr_t> result{-1};
    std::thread sender([&] { result = target.Send(WM_COMMDATA, 1, 0); });
    QVERIFY(WaitForBlockedSender());
    CGuiCall::SetOpen(false);
    sender.join();  // released without the GUI thread dispatching anything
    QCOMPARE(static_cast<long long>(result.load()), 0LL);

    // The dropped call never runs later, and new ones are refused at once.
    QCoreApplication::processEvents();
    QCOMPARE(handled, 0);
    std::thread refused([&] { result = target.Send(WM_COMMDATA, 1, 0); });
    refused.join();
    QCOMPARE(static_cast<long long>(result.load()), 0LL);
    QCOMPARE(handled, 0);

    CGuiCall::SetOpen(true);
    std::thread accepted([&] { result = target.Send(WM_COMMDATA, 1, 0); });
    QVERIFY(PumpUntil([&] { return handled == 1; }));
    accepted.join();
    QCOMPARE(static_cast<long long>(result.load()), 42LL);
}

void CMessageTargetTest::DeletedReceiverReleasesSender() {
    auto target = std::make_unique<CQtMessageTarget>(
        [](unsigned, std::uintptr_t, std::intptr_t) -> std::intptr_t { return 1; });
    std::atomic<std::intptr_t> result{-1};
    std::thread sender([&, t = target.get()] { result = t->Send(WM_COMMDATA, 1, 0); });
    QVERIFY(WaitForBlockedSender());
    target.reset();
    sender.join();
    QCOMPARE(static_cast<long long>(result.load()), 0LL);
}

void CMessageTargetTest::MessageBoxFromAnotherThread() {
    CQtPromptHooks::Install();
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
        ShowMessageBox("ReadFile\nInput/output error");
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
    CQtPromptHooks::Uninstall();
}

void CMessageTargetTest::ReaderDeliversAndStopsMidDelivery() {
    CGuiProfile profile;
    CQtPromptHooks::Install();
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    CRecordingPage page;
    {
        CCommPort port;
        QVERIFY(port.Open(pty.SlaveName()));
        port.ReadStart(page.GetTarget());
        QVERIFY(pty.WriteToPort("$GPS 12:00:00\r\n"));
        QVERIFY(PumpUntil([&] { return page.received == "$GPS 12:00:00\r\n"; }));

        // The reader is now blocked handing over a block; ReadStop has to let
        // that delivery through to end the thread.
        QVERIFY(pty.WriteToPort("more"));
        QVERIFY(WaitForBlockedSender());
        port.ReadStop();
        QVERIFY2(page.received == "$GPS 12:00:00\r\nmore", page.received.c_str());

        // Nothing arrives once reading has stopped.
        const int blocks = page.blocks;
        QVERIFY(pty.WriteToPort("late"));
        QTest::qWait(50);
        QCOMPARE(page.blocks, blocks);
    }
    CQtPromptHooks::Uninstall();
}

void CMessageTargetTest::WaitInPostedHandlerDeliversEarlierSends() {
    // As when the sheet stops the reader on a posted WM_CONSOLESHOW while the
    // reader's Send is already queued behind it: the wait must deliver it.
    CQtPromptHooks::Install();
    std::atomic<bool> delivered{false};
    std::atomic<bool> sent{false};
    int pumps = 0;
    CQtMessageTarget target([&](unsigned msg, std::uintptr_t, std::intptr_t) -> std::intptr_t {
        if (msg == WM_COMMDATA) {
            delivered = true;
        } else if (msg == WM_CONSOLESHOW) {
            while (!delivered && pumps < 100 && PumpWaitingMessages()) ++pumps;
        }
        return 0;
    });
    target.Post(WM_CONSOLESHOW, 0, 0);
    std::thread reader([&] {
        target.Send(WM_COMMDATA, 1, 0);
        sent = true;
    });
    QVERIFY(WaitForBlockedSender());
    QVERIFY(PumpUntil([&] { return sent.load(); }));
    reader.join();
    QVERIFY2(pumps < 100, "the queued Send was not delivered inside the wait");
    CQtPromptHooks::Uninstall();
}

void CMessageTargetTest::ReaderStopWhileClosingDoesNotHang() {
    CGuiProfile profile;
    CQtPromptHooks::Install();
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    CRecordingPage page;
    {
        CCommPort port;
        QVERIFY(port.Open(pty.SlaveName()));
        port.ReadStart(page.GetTarget());
        QVERIFY(pty.WriteToPort("x"));
        QVERIFY(WaitForBlockedSender());
        // The program is closing: the pump gives up and the gate lets the
        // reader go, so stopping and closing return although nothing is
        // dispatched any more.
        CQtPromptHooks::SetClosePending(true);
        CGuiCall::SetOpen(false);
        port.ReadStop();
        port.Close();
        QVERIFY(!port.IsOpen());
    }
    QCOMPARE(page.blocks, 0);
    CQtPromptHooks::SetClosePending(false);
    CQtPromptHooks::Uninstall();
}

QTEST_MAIN(CMessageTargetTest)
#include "MessageTargetTest.moc"
