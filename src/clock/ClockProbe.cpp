#include "ClockProbe.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "ClockModel.h"
#include "CommPort.h"
#include "Dcb.h"
#include "DcbLine.h"
#include "LineWait.h"
#include "PortCatalogue.h"
#include "Waits.h"
#include "Resource.h"
#include "StringTable.h"
#include "TermiosDevice.h"
#include "TextUtil.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::uint32_t kFirstRate = 9600;
constexpr char kAsk = 'v';           // GET_VERSION: answered, never acted on
constexpr unsigned kPollSliceMs = 20;  // how soon a cancel is seen
constexpr std::size_t kMaxReply = 64;

std::mutex g_progressMutex;

int MsLeft(TClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The usual line: 8 data bits, no parity, one stop bit, no flow control.
bool SetLine(CSerialDevice& device, std::uint32_t rate, DCB& dcb) {
    TLineSettings line;
    if (!device.GetLineState(line)) return false;
    dcb = ToDcb(line);
    dcb.BaudRate = rate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = false;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = false;
    dcb.fOutX = dcb.fInX = false;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return device.SetLineState(ToLineSettings(dcb));
}

// Reads what comes until stop says enough or the deadline passes; false when
// the device failed or the probe was cancelled.
template <typename Stop>
bool Collect(CSerialDevice& device, std::string& got, TClock::time_point deadline, const std::atomic<bool>& cancel,
             Stop stop) {
    while (!stop(got) && got.size() < kMaxReply) {
        if (cancel) return false;
        const int left = MsLeft(deadline);
        if (left == 0) return true;
        const TDeviceEvents seen = device.Wait(TDeviceEvents::Input, std::min<int>(left, kPollSliceMs));
        if (HasAny(seen, TDeviceEvents::Failed | TDeviceEvents::HungUp)) return false;
        if (!HasAny(seen, TDeviceEvents::Input)) continue;
        unsigned char buf[kMaxReply];
        const ssize_t n = device.Read(buf, kMaxReply - got.size());
        if (n > 0) got.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
    }
    return true;
}

// The ROM date line of what came after the echo of "v": only the model that
// answers "v" sends one. False when reply holds none.
bool RomDate(const std::string& reply, std::string& rom) {
    const std::size_t end = reply.find_first_of("\r\n");
    if (reply.find('?') != std::string::npos || end == std::string::npos || end == 0) return false;
    for (std::size_t i = 0; i < end; ++i)
        if (reply[i] < 0x20 || reply[i] >= 0x7f) return false;
    rom = reply.substr(0, end);
    return true;
}

// "12 Mar 1998": the day, the month's three letters, the year.
bool RomDateShape(const std::string& rom) {
    const std::size_t space = rom.find(' ');
    if (space == std::string::npos || space < 1 || space > 2 || rom.size() != space + 9) return false;
    auto digits = [&rom](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i)
            if (rom[i] < '0' || rom[i] > '9') return false;
        return true;
    };
    auto letter = [](char c, bool upper) { return upper ? c >= 'A' && c <= 'Z' : c >= 'a' && c <= 'z'; };
    return digits(0, space) && letter(rom[space + 1], true) && letter(rom[space + 2], false) &&
           letter(rom[space + 3], false) && rom[space + 4] == ' ' && digits(space + 5, 4);
}

// What a clock sends after the echo of "v": nothing (a model that only
// echoes), its refusal '?', or its ROM date line. A line of noise that
// happened to carry a 'v' sends something else.
bool ClockLikeReply(std::string reply) {
    // Stray bytes of a noisy line, which never carries them clean, before it.
    while (!reply.empty() && static_cast<unsigned char>(reply[0]) >= 0x80) reply.erase(0, 1);
    if (reply.empty()) return true;
    if (reply.substr(0, reply.find_first_of("\r\n")) == "?") return true;
    std::string rom;
    return RomDate(reply, rom) && RomDateShape(rom);
}

bool LineEnded(const char* buf, std::size_t n) {
    return std::memchr(buf, '\n', n) != nullptr || std::memchr(buf, '?', n) != nullptr;
}

}  // namespace

namespace {

// One "v", after a break and its pause when breakFirst; echoed tells
// whether the clock echoed it.
int AskOnce(CCommPort& port, const TProbeTimes& times, bool breakFirst, std::string* romOut, bool& echoed) {
    echoed = false;
    // The break ends whatever the clock was in the middle of.
    if (breakFirst) {
        if (!port.SendBreak() || !port.FlushWrites(CCommPort::PURGE_INPUT)) return -1;
        LineWait::SleepUntil(NowMs() + times.afterBreakMs);
    }
    if (!port.FlushWrites(CCommPort::PURGE_INPUT)) return -1;
    const unsigned char ask = kAsk;
    if (!port.Write(&ask, 1)) return -1;
    const unsigned extraMs = port.RoundTripMs() + (port.IsNetworkLink() ? times.networkMarginMs : 0u);
    char got[kMaxReply] = {};
    std::size_t count = 0;
    if (!LineWait::Collect(port, got, sizeof got, count, NowMs() + times.echoWaitMs + extraMs,
                           [](const char* buf, std::size_t n) { return std::memchr(buf, kAsk, n) != nullptr; }))
        return -1;
    const char* echo = static_cast<const char*>(std::memchr(got, kAsk, count));
    if (!echo) return -1;
    echoed = true;
    const std::size_t from = static_cast<std::size_t>(echo - got) + 1;
    std::memmove(got, got + from, count - from);
    count -= from;
    if (!LineWait::Collect(port, got, sizeof got, count, NowMs() + times.replyWaitMs + extraMs, LineEnded)) return -1;
    std::string rom;
    if (!RomDate(std::string(got, count), rom) || !RomDateShape(rom)) return -1;
    if (romOut) *romOut = rom;
    return CClockModel::VersionAnsweringModel();
}

}  // namespace

int AskClockModel(CCommPort& port, const TProbeTimes& times, std::string* romOut) {
    bool echoed = false;
    if (!times.breakFirst) {
        const int model = AskOnce(port, times, false, romOut, echoed);
        // A clock that heard it has answered; one that did not may be in
        // the middle of something only a break ends.
        if (model >= 0 || echoed) return model;
    }
    return AskOnce(port, times, true, romOut, echoed);
}

std::vector<std::uint32_t> CClockProbe::Rates() {
    // The nearest rates to the factory's first: faster ones upwards, then
    // slower ones downwards.
    std::vector<std::uint32_t> faster, slower;
    for (unsigned id = IDS_BAUD_FIRST; id <= IDS_BAUD_LAST; ++id) {
        const unsigned long rate = std::strtoul(GetString(id).c_str(), nullptr, 10);
        if (rate > kFirstRate) faster.push_back(static_cast<std::uint32_t>(rate));
        if (rate != 0 && rate < kFirstRate) slower.push_back(static_cast<std::uint32_t>(rate));
    }
    std::sort(faster.begin(), faster.end());
    std::sort(slower.rbegin(), slower.rend());
    std::vector<std::uint32_t> rates{kFirstRate};
    rates.insert(rates.end(), faster.begin(), faster.end());
    rates.insert(rates.end(), slower.begin(), slower.end());
    return rates;
}

std::vector<std::string> CClockProbe::ListedPorts() {
    std::vector<std::string> ports;
    for (const auto& entry : CPortCatalogue::ListEntries())
        if (entry.present && !entry.isVirtual) ports.push_back(entry.OpenName());
    return ports;
}

std::vector<TProbeFound> CClockProbe::Run(const std::vector<std::string>& ports) {
    m_failures.clear();
    m_done = 0;
    m_total = static_cast<int>(ports.size() * Rates().size());
    std::vector<TPortResult> results(ports.size());
    std::vector<std::thread> threads;
    threads.reserve(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([this, &ports, &results, i] { ProbePort(ports[i], results[i]); });
    for (auto& t : threads) t.join();

    std::vector<TProbeFound> found;
    for (auto& r : results) {
        if (r.found) found.push_back(r.clock);
        if (!r.failure.empty()) m_failures.push_back(r.failure);
    }
    return found;
}

void CClockProbe::StepDone(const std::string& port, std::uint32_t rate) {
    const int done = ++m_done;
    if (!m_progress) return;
    std::lock_guard lock(g_progressMutex);
    m_progress(port, rate, done, m_total);
}

void CClockProbe::ProbePort(const std::string& port, TPortResult& result) {
    const std::vector<std::uint32_t> rates = Rates();
    auto skipRest = [&](std::size_t from) {
        for (std::size_t k = from; k < rates.size(); ++k) StepDone(port, rates[k]);
    };
    CPortCatalogue::TTarget target =
        CPortCatalogue::Resolve(port, [] { return std::make_shared<CTermiosDevice>(); });
    if (!target.device || !target.device->Open(target.path)) {
        const int code = errno;
        std::string reason = std::strerror(code);
        const std::string hint = CPortCatalogue::OpenHint(code, target.path);
        if (!hint.empty()) reason += " (" + hint + ")";
        result.failure = port + ": " + reason;
        skipRest(0);
        return;
    }
    CSerialDevice& device = *target.device;
    // Read for every wait: the round trip is measured as the probe goes.
    auto extraMs = [&device, this] {
        return device.RoundTripMs() + (device.IsNetworkLink() ? m_times.networkMarginMs : 0u);
    };
    for (std::size_t k = 0; k < rates.size() && !m_cancel; ++k) {
        const std::uint32_t rate = rates[k];
        // A rate the device refuses cannot be the clock's.
        DCB line;
        if (!SetLine(device, rate, line)) {
            StepDone(port, rate);
            continue;
        }
        // The break ends whatever the clock was in the middle of; a line
        // that cannot send one is still asked.
        if (device.SetBreak(true)) {
            SleepPlainMs(CCommPort::BreakHoldMs(line));
            device.SetBreak(false);
            SleepPlainMs(m_times.afterBreakMs);
        }
        device.Purge(true, true);
        const unsigned char ask = kAsk;
        if (device.Write(&ask, 1) != 1) {
            StepDone(port, rate);
            continue;
        }
        std::string got;
        const bool alive = Collect(device, got, TClock::now() + std::chrono::milliseconds(m_times.echoWaitMs + extraMs()),
                                   m_cancel, [](const std::string& s) { return !s.empty(); });
        // The echo comes first, as the clock's answer to the byte it took.
        if (alive && !got.empty() && got[0] == kAsk) {
            std::string reply = got.substr(1);
            Collect(device, reply, TClock::now() + std::chrono::milliseconds(m_times.replyWaitMs + extraMs()), m_cancel,
                    [](const std::string& s) { return s.find('\n') != std::string::npos || s.find('?') != std::string::npos; });
            if (!ClockLikeReply(reply)) {
                StepDone(port, rate);
                continue;
            }
            result.found = true;
            result.clock.port = port;
            result.clock.rate = rate;
            result.clock.network = device.IsNetworkLink();
            result.clock.roundTripMs = device.RoundTripMs();
            if (RomDate(reply, result.clock.rom))
                if (const TClockModelRow* row = CClockModel::Row(CClockModel::VersionAnsweringModel()))
                    result.clock.model = row->name;
            StepDone(port, rate);
            skipRest(k + 1);
            break;
        }
        StepDone(port, rate);
        if (!alive && !m_cancel) {
            result.failure = port + ": " + std::strerror(errno ? errno : EIO);
            skipRest(k + 1);
            break;
        }
    }
    // Close restores the line settings the port had before.
    device.Close();
}
