#include "Waits.h"

#include <time.h>

#include <cerrno>
#include <mutex>

namespace {

std::mutex g_hookMutex;
PumpHook g_pump;
SleepHook g_sleep;

template <typename T>
T CopyHook(const T& hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return hook;
}

}  // namespace

void SetPumpHook(PumpHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_pump = std::move(hook);
}

bool PumpWaitingMessages() {
    if (auto hook = CopyHook(g_pump)) return hook();
    // Nothing to dispatch: just do not spin.
    SleepMs(1);
    return true;
}

void SetSleepHook(SleepHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_sleep = std::move(hook);
}

void SleepMs(unsigned ms) {
    if (auto hook = CopyHook(g_sleep)) {
        hook(ms);
        return;
    }
    SleepPlainMs(ms);
}

void SleepPlainMs(unsigned ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}
