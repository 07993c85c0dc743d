// The Qt side of what stays process-wide in Waits.h: the waiting pump with
// its close-pending rule, and the sleep that keeps the window painted during a
// transfer. Message boxes and countdowns belong to the window (CQtClockUi).
#pragma once


class CQtWaitHooks {
public:
    // Installs the pump and sleep hooks; Uninstall restores the plain ones.
    static void Install();
    static void Uninstall();

    // The waiting pump: dispatches what the GUI thread has queued (waiting a
    // little for work when there is none) and returns false when the wait
    // must end because the main window is to close.
    static bool Pump();

    // True while a Pump call is dispatching on the GUI thread.
    static bool IsPumping();

    // Set by the main window when it is asked to close inside a pump; the
    // close itself is carried out once the wait has ended.
    static void SetClosePending(bool pending);
    static bool IsClosePending();

    // While a transfer with the clock runs on the GUI thread, its pauses
    // (SleepMs) keep the windows painted and the timers running, but take no
    // user input. Scopes nest.
    class CTransferScope {
    public:
        CTransferScope();
        ~CTransferScope();
        CTransferScope(const CTransferScope&) = delete;
        CTransferScope& operator=(const CTransferScope&) = delete;
    };
    static bool InTransfer();
};
