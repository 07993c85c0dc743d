// The echo-checked command writer: the clock echoes every character it
// takes. On a local line each byte is written alone and its echo awaited
// before the next; over the network, where the echo comes a round trip
// later, the bytes leave at the same pace and their echoes are checked in
// order as they arrive, so the clock sees the spacing a cable gives.
#include <algorithm>
#include <string>
#include <vector>

#include "ClockModel.h"
#include "ClockState.h"
#include "CommPort.h"
#include "LineWait.h"
#include "Waits.h"  // the process-wide sleep
#include "TextUtil.h"
#include "Trace.h"

namespace {

constexpr unsigned kLookMs = 5;  // how often the paced writer looks for echoes

// Watches the line for at most ms: true as soon as input came. Between two
// looks a window is painted (the process-wide sleep); a device woken by
// something that is not a byte (a network link's own traffic) is not spun on.
bool WatchLine(CCommPort& port, unsigned ms, bool& woke) {
    if (woke) SleepMs(1);
    woke = port.WaitForInput(std::min(ms, kLookMs));
    if (!woke) SleepMs(0);
    return woke;
}

// Takes a byte's echo as soon as it arrives, until `until` (NowMs), reading
// only once the line has something: the pause after the byte is kept whole
// by the caller, and the echo's arrival is known to the microsecond
// (arrivedUs, LineWait::NowUs; 0 when none came). False when the port failed.
bool TakeEchoInPause(CCommPort& port, long long until, unsigned char& echo, unsigned& count, long long& arrived,
                     long long& arrivedUs) {
    bool woke = false;
    count = 0;
    for (;;) {
        const long long left = until - NowMs();
        if (left <= 0) return true;
        if (!WatchLine(port, static_cast<unsigned>(left), woke)) continue;
        count = 1;
        if (!port.Read(&echo, count)) return false;
        if (count == 1) {
            arrivedUs = LineWait::NowUs();
            arrived = NowMs();
            return true;
        }
    }
}

TClockResult NoEcho(const std::string& command, std::size_t i, long long waitedMs) {
    TClockResult result = TClockResult::Fail(TClockFailure::NoEcho, command);
    result.index = static_cast<int>(i) + 1;
    result.sent = static_cast<unsigned char>(command[i]);
    result.ms = static_cast<unsigned>(std::max(0LL, waitedMs));
    return result;
}

TClockResult WrongEcho(const std::string& command, std::size_t i, unsigned char echo) {
    TClockResult result = TClockResult::Fail(TClockFailure::WrongEcho, command);
    result.index = static_cast<int>(i) + 1;
    result.sent = static_cast<unsigned char>(command[i]);
    result.got = echo;
    return result;
}

// The protocol's writer: a byte whose echo is missing or wrong is sent
// again, up to tries times, and a byte out of attempts does not stop the
// command. The command counts as written only when every byte reached the
// clock exactly once: a byte sent again may now sit in the clock twice, so
// the command has failed even if the resend is echoed. A write the port
// refused put nothing on the line and may be repeated freely.
TClockResult WriteEachEchoed(CCommPort& port, const std::string& text, unsigned delay, int tries) {
    const unsigned bound = LineWait::EchoBoundMs(port, delay);
    TClockResult result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char sent = static_cast<unsigned char>(text[i]);
        TClockResult why;  // the byte's first trouble
        int timesSent = 0;
        bool echoed = false;
        for (int attempt = 0; attempt < tries && !echoed; ++attempt) {
            const long long fromUs = LineWait::NowUs();
            const long long from = NowMs();
            if (!port.Write(&sent, 1)) {
                TRACE("CClockModel::WriteCommand(): Failed to write byte %d(%c) of %s command to comm port.\n",
                      static_cast<int>(i), sent, text.c_str());
                // The port's own trouble explains a missing echo before it.
                if (why || why.failure == TClockFailure::NoEcho) why = PortFailure(port, text);
                continue;
            }
            ++timesSent;
            const long long at = NowMs();
            result.lastByteMs = at;
            result.lastByteFromMs = from;
            result.lastByteFromUs = fromUs;
            unsigned char echo = 0;
            unsigned count = 1;
            long long arrived = 0, arrivedUs = 0;
            bool readOk = TakeEchoInPause(port, at + delay, echo, count, arrived, arrivedUs);
            LineWait::SleepUntil(at + delay);
            if (readOk && count == 0) readOk = port.Read(&echo, count);
            // A late echo is an echo: while the command can still succeed it
            // is awaited up to the bound. Once it has failed, the rest keeps
            // the pause alone, so a silent clock is reported in seconds.
            if (readOk && count == 0 && result && why) {
                char late = 0;
                std::size_t got = 0;
                readOk = LineWait::Collect(port, &late, 1, got, at + bound,
                                           [](const char*, std::size_t n) { return n > 0; });
                if (got == 1) {
                    echo = static_cast<unsigned char>(late);
                    count = 1;
                }
            }
            // Known to the microsecond when it came in the pause; else when read.
            result.echoedUs = arrivedUs > 0 ? arrivedUs : LineWait::NowUs();
            result.echoedMs = arrived > 0 ? arrived : NowMs();
            if (!readOk || count != 1) {
                TRACE("CClockModel::WriteCommand(): Failed to read echo byte %d(%c) \t\t\t\t\tof %s command from comm port.\n",
                      static_cast<int>(i), sent, text.c_str());
                if (why) why = readOk ? NoEcho(text, i, NowMs() - at) : PortFailure(port, text);
                continue;
            }
            if (echo == sent) {
                echoed = true;
            } else {
                TRACE("CClockModel::WriteCommand(): \t\t\t\t\techo byte (%c)!= send byte (%c) of %s command from comm port.\n",
                      echo, sent, text.c_str());
                if (why) why = WrongEcho(text, i, echo);
            }
        }
        if ((!echoed || timesSent != 1) && result) {
            result = why ? PortFailure(port, text) : why;
            if (echoed) result.resentByte = static_cast<int>(i) + 1;
        }
    }
    return result;
}

// Over the network: byte i leaves at i pauses after the first, whatever its
// echoes do; each echo is checked in order as it comes. A missing or wrong
// echo ends the command at once, and no byte is ever sent twice.
TClockResult WritePaced(CCommPort& port, const std::string& text, unsigned delay) {
    const unsigned bound = LineWait::EchoBoundMs(port, delay);
    std::vector<long long> sentAt(text.size(), 0);
    std::size_t sent = 0, checked = 0;
    TClockResult result;
    // Takes the echoes that have come, never a byte beyond them: what the
    // clock says after the command belongs to the caller.
    auto takeEchoes = [&]() {
        while (checked < sent) {
            unsigned char echo = 0;
            unsigned count = 1;
            if (!port.Read(&echo, count)) {
                result = PortFailure(port, text);
                return false;
            }
            if (count == 0) return true;
            result.echoedMs = NowMs();
            result.echoedUs = LineWait::NowUs();
            if (echo != static_cast<unsigned char>(text[checked])) {
                TRACE("CClockModel::WriteCommand(): \t\t\t\t\techo byte (%c)!= send byte (%c) of %s command from comm port.\n",
                      echo, text[checked], text.c_str());
                result = WrongEcho(text, checked, echo);
                return false;
            }
            ++checked;
        }
        return true;
    };
    auto overdue = [&](long long now) {
        if (checked >= sent || now - sentAt[checked] < bound) return false;
        TRACE("CClockModel::WriteCommand(): Failed to read echo byte %d(%c) \t\t\t\t\tof %s command from comm port.\n",
              static_cast<int>(checked), text[checked], text.c_str());
        result = NoEcho(text, checked, now - sentAt[checked]);
        return true;
    };
    const long long start = NowMs();
    while (sent < text.size()) {
        const long long due = start + static_cast<long long>(sent) * delay;
        for (;;) {
            if (!takeEchoes()) return result;
            const long long now = NowMs();
            if (overdue(now)) return result;
            if (now >= due) break;
            SleepMs(static_cast<unsigned>(std::min<long long>(due - now, kLookMs)));
        }
        const unsigned char byte = static_cast<unsigned char>(text[sent]);
        const long long fromUs = LineWait::NowUs();
        const long long from = NowMs();
        if (!port.Write(&byte, 1)) {
            TRACE("CClockModel::WriteCommand(): Failed to write byte %d(%c) of %s command to comm port.\n",
                  static_cast<int>(sent), byte, text.c_str());
            return PortFailure(port, text);
        }
        sentAt[sent] = NowMs();
        result.lastByteMs = sentAt[sent];
        result.lastByteFromMs = from;
        result.lastByteFromUs = fromUs;
        ++sent;
    }
    // The last byte, too, is given at least its pause; its echo is taken
    // as it arrives.
    const long long least = sentAt.back() + delay;
    bool woke = false;
    for (;;) {
        if (!takeEchoes()) return result;
        const long long now = NowMs();
        if (checked == sent && now >= least) return result;
        if (overdue(now)) return result;
        if (checked == sent) SleepMs(static_cast<unsigned>(std::min<long long>(least - now, kLookMs)));
        else WatchLine(port, static_cast<unsigned>(std::max(1LL, least - now)), woke);
    }
}

}  // namespace

TClockResult CClockModel::WriteCommand(CCommPort& port, TClockCommand command, int tries) const {
    std::string text;
    FormatCommand(text, command);
    // A stale reply of an earlier command must not be taken for an echo.
    if (!port.FlushWrites(CCommPort::PURGE_INPUT | CCommPort::DRAIN_OUTPUT)) return PortFailure(port, text);
    if (text.empty()) return TClockResult::Fail(TClockFailure::NoCommand, std::to_string(static_cast<int>(command)));
    const unsigned delay = LineWait::CharDelayMs();
    TClockResult result = port.IsNetworkLink() ? WritePaced(port, text, delay) : WriteEachEchoed(port, text, delay, tries);
    if (result) TRACE("CClockModel::WriteCommand(): Wrote command %s sucessfully.\n", text.c_str());
    return result;
}

TClockResult CClockState::SendCommand(CCommPort& port, TClockCommand command) {
    return m_model.WriteCommand(port, command, 5);
}
