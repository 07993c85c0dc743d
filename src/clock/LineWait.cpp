#include "LineWait.h"

#include <algorithm>
#include <chrono>

#include "CommPort.h"
#include "Dcb.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "Waits.h"
#include "TextUtil.h"

namespace LineWait {

namespace {

// How often a wait looks for what it waits for: short beside any pause of
// the protocol, long enough not to keep a core busy.
constexpr unsigned kSliceMs = 5;

}  // namespace

long long NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

unsigned CharDelayMs() {
    // A negative value would mean an endless sleep on the old platform; none here.
    const int ms = GetProfileDelayMs(ProfileKeys::CHAR_DELAY, ProfileKeys::CHAR_DELAY_DEFAULT_MS);
    return ms > 0 ? static_cast<unsigned>(ms) : 0;
}

unsigned EchoBoundMs(const CCommPort& port, unsigned charDelayMs) {
    return charDelayMs + port.RoundTripMs() + kMarginMs;
}

unsigned AnswerBoundMs(CCommPort& port, unsigned leastMs, std::size_t chars) {
    DCB dcb{};
    unsigned lineMs = 0;
    // Ten bits a character: start, eight data bits, stop.
    if (port.GetDCB(dcb) && dcb.BaudRate > 0)
        lineMs = static_cast<unsigned>(chars * 10 * 1000 / dcb.BaudRate);
    return std::max(leastMs, lineMs) + port.RoundTripMs() + kMarginMs;
}

bool Collect(CCommPort& port, char* buf, std::size_t capacity, std::size_t& got, long long deadline,
             const std::function<bool(const char*, std::size_t)>& done) {
    for (;;) {
        if (got < capacity) {
            unsigned count = static_cast<unsigned>(capacity - got);
            if (!port.Read(reinterpret_cast<unsigned char*>(buf + got), count)) return false;
            got += count;
        }
        if (done(buf, got) || got >= capacity) return true;
        const long long left = deadline - NowMs();
        if (left <= 0) return true;
        SleepMs(static_cast<unsigned>(std::min<long long>(left, kSliceMs)));
    }
}

long long CommandTakenMs(const CCommPort& port, long long lastByteMs, long long doneMs) {
    if (lastByteMs <= 0) return doneMs;
    return std::min(doneMs, std::max(lastByteMs + CharDelayMs(), doneMs - port.RoundTripMs() / 2));
}

void SleepUntil(long long deadline) {
    const long long left = deadline - NowMs();
    if (left > 0) SleepMs(static_cast<unsigned>(left));
}

}  // namespace LineWait
