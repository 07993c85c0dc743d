#include "QtPromptHooks.h"

#include <QApplication>
#include <QEventLoop>
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

bool OnGuiThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void ShowBoxHere(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(GetAppName()), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
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
    return std::make_unique<CDlgCommDelay>(lower, upper, step, nullptr);
}

}  // namespace

void CQtPromptHooks::Install() {
    SetMessageBoxHook(ShowBox);
    SetBeepHook(Bell);
    SetCountdownFactory(MakeDialogCountdown);
    SetPumpHook(&CQtPromptHooks::Pump);
}

void CQtPromptHooks::Uninstall() {
    SetMessageBoxHook(nullptr);
    SetBeepHook(nullptr);
    SetCountdownFactory(nullptr);
    SetPumpHook(nullptr);
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
