// The two waits that are truly process-wide: the waiting pump and the sleep.
// The GUI installs hooks for both so its windows stay painted while the core
// waits; tarvelctl, tools and the core's tests install none. What the core
// tells the user goes to objects it is handed (the clock state's UI, the
// port's reporter), never through here.
#pragma once

#include <functional>

// Process-wide waiting pump: dispatches pending user-interface work while the
// caller waits. Returns false when the wait must end (the application is
// closing).
using PumpHook = std::function<bool()>;
void SetPumpHook(PumpHook hook);
bool PumpWaitingMessages();

// Process-wide sleep on the calling thread. A hook (the GUI) may keep its
// window painted meanwhile; it must still wait the whole time.
using SleepHook = std::function<void(unsigned ms)>;
void SetSleepHook(SleepHook hook);  // empty hook restores the plain sleep
void SleepMs(unsigned ms);
// The plain sleep, for hooks.
void SleepPlainMs(unsigned ms);
