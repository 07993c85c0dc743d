#include "Prompts.h"

#include <time.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "Messages.h"

namespace {

std::mutex g_hookMutex;
MessageBoxHook g_messageBox;
BeepHook g_beep;
CountdownFactory g_countdown;
PumpHook g_pump;
SleepHook g_sleep;

template <typename T>
T CopyHook(const T& hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return hook;
}

// Without a user interface the countdown simply waits its seconds.
class CSilentCountdown : public ICountdown {
public:
    CSilentCountdown(int lower, int upper, int step) : m_lower(lower), m_upper(upper), m_step(step) {}
    int DoModal() override {
        if (m_step <= 0) return IDOK;
        for (int pos = m_lower; pos < m_upper; pos += m_step) SleepMs(1000);
        return IDOK;
    }
    void SetRange(int lower, int upper) override {
        m_lower = lower;
        m_upper = upper;
    }

private:
    int m_lower, m_upper, m_step;
};

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_messageBox = std::move(hook);
}

void ShowMessageBox(const std::string& text) {
    if (auto hook = CopyHook(g_messageBox)) {
        hook(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void SetBeepHook(BeepHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_beep = std::move(hook);
}

void Beep() {
    if (auto hook = CopyHook(g_beep)) {
        hook();
        return;
    }
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

void SetCountdownFactory(CountdownFactory factory) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_countdown = std::move(factory);
}

std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) {
    if (auto factory = CopyHook(g_countdown)) {
        if (auto made = factory(lower, upper, step)) return made;
    }
    return std::make_unique<CSilentCountdown>(lower, upper, step);
}

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
