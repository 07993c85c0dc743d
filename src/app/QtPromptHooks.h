// The Qt side of the prompt hooks (Prompts.h): message boxes, the beep, the
// countdown dialog and the waiting pump, plus the pump's close-pending rule.
#pragma once

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
};
