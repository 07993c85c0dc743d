#include "QtWaitHooks.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "Profile.h"
#include "Waits.h"

namespace {

// The longest a pump call sleeps when nothing arrives; the waiter checks its
// own condition (the reader thread's end) between calls.
constexpr int kPumpWakeMs = 10;

int g_pumpDepth = 0;
bool g_closePending = false;
int g_transferDepth = 0;

bool OnGuiThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// A pause of the clock protocol. Inside a transfer on the GUI thread the
// window is painted and timers run meanwhile; input waits until the transfer
// is over, so no second command can start. The pause is never shorter.
void SleepKeepingPainted(unsigned ms) {
    if (g_transferDepth == 0 || g_closePending || !OnGuiThread()) {
        SleepPlainMs(ms);
        return;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake.start(static_cast<int>(ms));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    const qint64 left = static_cast<qint64>(ms) - elapsed.elapsed();
    if (left > 0) SleepPlainMs(static_cast<unsigned>(left));
}

// A setting of the profile that was out of range: said once, in a box over
// the active window; off the GUI thread on standard error.
void ShowProfileNotice(const std::string& text) {
    if (!OnGuiThread() || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    QMessageBox::warning(QApplication::activeWindow(), QString::fromStdString(GetAppName()),
                         QString::fromStdString(text));
}

}  // namespace

void CQtWaitHooks::Install() {
    SetPumpHook(&CQtWaitHooks::Pump);
    SetSleepHook(SleepKeepingPainted);
    SetProfileNoticeSink(ShowProfileNotice);
}

void CQtWaitHooks::Uninstall() {
    SetPumpHook(nullptr);
    SetSleepHook(nullptr);
    SetProfileNoticeSink(nullptr);
}


bool CQtWaitHooks::Pump() {
    if (!OnGuiThread()) {
        SleepMs(1);
        return true;
    }
    if (g_closePending) return false;
    ++g_pumpDepth;
    // Posted first, by hand: a wait inside a posted event's handler (the
    // sheet stops the reader on a posted WM_CONSOLESHOW) would otherwise
    // never see the events queued before that one, such as the reader's
    // pending Send, and wait for them for ever.
    QCoreApplication::sendPostedEvents();
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(kPumpWakeMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    --g_pumpDepth;
    return !g_closePending;
}

bool CQtWaitHooks::IsPumping() { return g_pumpDepth > 0; }

void CQtWaitHooks::SetClosePending(bool pending) { g_closePending = pending; }

bool CQtWaitHooks::IsClosePending() { return g_closePending; }

CQtWaitHooks::CTransferScope::CTransferScope() { ++g_transferDepth; }

CQtWaitHooks::CTransferScope::~CTransferScope() { --g_transferDepth; }

bool CQtWaitHooks::InTransfer() { return g_transferDepth > 0; }
