// The Qt side of the prompt hooks (Prompts.h): message boxes, the beep, the
// countdown dialog and the waiting pump, plus the pump's close-pending rule.
#pragma once

class QWidget;

class CQtPromptHooks {
public:
    // Installs the Qt hooks; Uninstall restores the console defaults.
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

    // The window the countdown and the message boxes belong to (centred over
    // it); null: none.
    static void SetOwner(QWidget* owner);
    static QWidget* GetOwner();

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
