#include "QtPromptHooks.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "DlgCommDelay.h"
#include "GuiCall.h"
#include "Profile.h"
#include "Prompts.h"

namespace {

// The longest a pump call sleeps when nothing arrives; the waiter checks its
// own condition (the reader thread's end) between calls.
constexpr int kPumpWakeMs = 10;

int g_pumpDepth = 0;
bool g_closePending = false;
int g_transferDepth = 0;
QPointer<QWidget> g_owner;

bool OnGuiThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void ShowBoxHere(const std::string& text) {
    QWidget* parent = QApplication::activeWindow() ? QApplication::activeWindow() : g_owner.data();
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(GetAppName()), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    // A box raised during a blocking operation waits for the user, not for it.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy) QApplication::restoreOverrideCursor();
}

void ShowBox(const std::string& text) {
    if (OnGuiThread()) {
        ShowBoxHere(text);
        return;
    }
    // Another thread (the reader): the box belongs to the GUI thread. When the
    // program is closing the call is refused; the text still goes somewhere.
    if (!CGuiCall::Run(QCoreApplication::instance(), [&text] { ShowBoxHere(text); }))
        std::fprintf(stderr, "%s\n", text.c_str());
}

void Bell() {
    if (OnGuiThread()) {
        QApplication::beep();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QApplication::beep(); }, Qt::QueuedConnection);
}

std::unique_ptr<ICountdown> MakeDialogCountdown(int lower, int upper, int step) {
    if (!OnGuiThread()) return nullptr;  // the silent default serves other threads
    return std::make_unique<CDlgCommDelay>(lower, upper, step, g_owner.data());
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
    SetMessageBoxHook(ShowBox);
    SetBeepHook(Bell);
    SetCountdownFactory(MakeDialogCountdown);
    SetPumpHook(&CQtPromptHooks::Pump);
    SetSleepHook(SleepKeepingPainted);
}

void CQtPromptHooks::Uninstall() {
    SetMessageBoxHook(nullptr);
    SetBeepHook(nullptr);
    SetCountdownFactory(nullptr);
    SetPumpHook(nullptr);
    SetSleepHook(nullptr);
}

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

void CQtPromptHooks::SetOwner(QWidget* owner) { g_owner = owner; }

QWidget* CQtPromptHooks::GetOwner() { return g_owner.data(); }

CQtPromptHooks::CTransferScope::CTransferScope() { ++g_transferDepth; }

CQtPromptHooks::CTransferScope::~CTransferScope() { --g_transferDepth; }

bool CQtPromptHooks::InTransfer() { return g_transferDepth > 0; }
