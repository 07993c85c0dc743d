#include "QtPromptHooks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "ClockState.h"
#include "Prompts.h"

namespace {

// The longest a pump call sleeps when nothing arrives; the waiter checks its
// own condition (the reader thread's end) between calls.
constexpr int kPumpWakeMs = 10;

int g_pumpDepth = 0;
bool g_closePending = false;
int g_transferDepth = 0;

const CClockState* g_routed = nullptr;

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

}  // namespace

void CQtPromptHooks::Install() {
    SetPumpHook(&CQtPromptHooks::Pump);
    SetSleepHook(SleepKeepingPainted);
}

void CQtPromptHooks::Uninstall() {
    SetPumpHook(nullptr);
    SetSleepHook(nullptr);
}

void CQtPromptHooks::RouteCoreTo(const CClockState* state) {
    g_routed = state;
    if (!state) {
        SetMessageBoxHook(nullptr);
        SetCountdownFactory(nullptr);
        return;
    }
    SetMessageBoxHook([state](const std::string& text) {
        if (IClockUi* ui = state->GetUi(); ui && OnGuiThread())
            ui->ShowMessage(text);
        else
            std::fprintf(stderr, "%s\n", text.c_str());
    });
    SetCountdownFactory([state](int lower, int upper, int step) -> std::unique_ptr<ICountdown> {
        IClockUi* ui = state->GetUi();
        return ui && OnGuiThread() ? ui->MakeCountdown(lower, upper, step) : nullptr;
    });
}

const CClockState* CQtPromptHooks::GetRoutedState() { return g_routed; }

bool CQtPromptHooks::Pump() {
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

bool CQtPromptHooks::IsPumping() { return g_pumpDepth > 0; }

void CQtPromptHooks::SetClosePending(bool pending) { g_closePending = pending; }

bool CQtPromptHooks::IsClosePending() { return g_closePending; }

CQtPromptHooks::CTransferScope::CTransferScope() { ++g_transferDepth; }

CQtPromptHooks::CTransferScope::~CTransferScope() { --g_transferDepth; }

bool CQtPromptHooks::InTransfer() { return g_transferDepth > 0; }
