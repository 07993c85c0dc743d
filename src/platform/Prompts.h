// What the core asks of the user interface. The GUI, tarvelctl and tests each
// install their own hooks; the defaults print to standard error and never block.
#pragma once

#include <functional>
#include <memory>
#include <string>

// Message box with an OK button and the warning icon.
using MessageBoxHook = std::function<void(const std::string& text)>;
void SetMessageBoxHook(MessageBoxHook hook);  // empty hook restores the default
void ShowMessageBox(const std::string& text);

// The system beep.
using BeepHook = std::function<void()>;
void SetBeepHook(BeepHook hook);
void Beep();

// The countdown a write to the clock waits in. DoModal returns IDOK when the
// count ran out or OK was pressed, IDCANCEL when cancelled; it may run again.
class ICountdown {
public:
    virtual ~ICountdown() = default;
    virtual int DoModal() = 0;
    virtual void SetRange(int lower, int upper) = 0;
    // The stage of the write the next run waits for, shown beside the count.
    virtual void SetStage(const std::string& stage) { (void)stage; }
};
using CountdownFactory = std::function<std::unique_ptr<ICountdown>(int lower, int upper, int step)>;
void SetCountdownFactory(CountdownFactory factory);
// The default counts whole seconds silently and returns IDOK.
std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step);

// Waiting pump: dispatches pending user-interface work while the caller waits.
// Returns false when the wait must end (the application is closing).
using PumpHook = std::function<bool()>;
void SetPumpHook(PumpHook hook);
bool PumpWaitingMessages();

// Sleep on the calling thread. A hook (the GUI) may keep its window painted
// meanwhile; it must still wait the whole time.
using SleepHook = std::function<void(unsigned ms)>;
void SetSleepHook(SleepHook hook);  // empty hook restores the plain sleep
void SleepMs(unsigned ms);
// The plain sleep, for hooks.
void SleepPlainMs(unsigned ms);
