#include "SimClock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "HexCodec.h"
#include "SetupItems.h"
#include "TermiosLine.h"

namespace {

double SystemSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void SetArcPosition(std::uint8_t* msec, std::int8_t& sign, std::uint8_t* deg, std::uint8_t* min,
                    std::uint8_t* sec, std::uint8_t* fsec, char hemisphere, int d, int m, int s,
                    int f) {
    const std::int32_t total = ((d * 60 + m) * 60 + s) * 1000 + f;
    const bool negative = hemisphere == 'W' || hemisphere == 'S';
    SetBE32(msec, static_cast<std::uint32_t>(negative ? -total : total));
    sign = static_cast<std::int8_t>(hemisphere);
    SetBE16(deg, static_cast<std::uint16_t>(d));
    SetBE16(min, static_cast<std::uint16_t>(m));
    SetBE16(sec, static_cast<std::uint16_t>(s));
    SetBE16(fsec, static_cast<std::uint16_t>(f));
}

}  // namespace

CSimClock::CSimClock() : m_noise(1) {
    m_eeprom = MakeFactorySetup();
    m_active = m_eeprom;
    m_ownRate = RateOf(m_eeprom);
}

CSimClock::~CSimClock() { Stop(); }

TClockConfig CSimClock::MakeFactorySetup() {
    TClockConfig c{};
    c.model = 'B';
    c.external = 1;        // internal receiver
    c.mainBaud = 3;        // 9600
    c.mainDataBits = 1;    // 8
    c.mainStopBits = 0;    // 1
    c.mainParity = 0;      // none
    c.optionBaud = 3;
    c.optionDataBits = 1;
    c.optionStopBits = 0;
    c.optionParity = 0;
    c.backLight = 30;      // Auto
    c.keyLock = 0;
    SetBE16(c.localOffset, 0);
    c.daySaving = 0;
    c.dstMinutes = 0;
    c.dstHours = 2;
    SetBE16(c.lockTime, 60);
    SetBE32(c.cableDelay, 50);
    SetBE32(c.systemDelay, 0);
    c.broadcastSelect = 1;  // ASCII
    c.pulseMode = 0;        // Seconds
    SetBE16(c.secondsPerPulse, 1);
    SetBE16(c.pulseWidth, 10);
    c.positionHold = 0x02;  // position from the survey
    c.surveyMode = 0x03;    // survey, and again at power-on
    c.surveyDuration = 5;   // 1 hour
    SetBE32(c.fixN, 3600);
    SetBE32(c.fixCount, 3600);
    SetBE16(c.sTimeYear, 1998);
    SetBE16(c.sTimeDayOfYear, 71);
    c.sTimeHours = 14;
    c.sTimeMinutes = 30;
    c.sTimeSeconds = 0;
    SetArcPosition(c.lonMSec, c.lonSign, c.lonDeg, c.lonMin, c.lonSec, c.lonFSec, 'W', 105, 16, 14,
                   250);
    SetArcPosition(c.latMSec, c.latSign, c.latDeg, c.latMin, c.latSec, c.latFSec, 'N', 40, 0, 54,
                   500);
    SetBE32(c.mslAltitude, 1655);
    c.optBroadcastSelect = 0;
    return c;
}

TClockConfig CSimClock::GetEeprom() const {
    std::lock_guard lock(m_mutex);
    return m_eeprom;
}

void CSimClock::SetEeprom(const TClockConfig& config) {
    std::lock_guard lock(m_mutex);
    m_eeprom = config;
    m_ownRate = RateOf(config);
}

std::uint32_t CSimClock::OwnRate() const {
    std::lock_guard lock(m_mutex);
    return m_ownRate;
}

std::uint32_t CSimClock::RateOf(const TClockConfig& config) {
    // The choices of the setup item that holds the main port's rate.
    constexpr int kMainBaudItem = 3;
    std::vector<std::string> rates;
    if (!GetChoiceList(kMainBaudItem, rates) || config.mainBaud >= rates.size()) return 0;
    return static_cast<std::uint32_t>(std::strtoul(rates[config.mainBaud].c_str(), nullptr, 10));
}

TClockConfig CSimClock::GetActive() const {
    std::lock_guard lock(m_mutex);
    return m_active;
}

void CSimClock::SetActive(const TClockConfig& config) {
    std::lock_guard lock(m_mutex);
    m_active = config;
}

TSimFaults CSimClock::GetFaults() const {
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void CSimClock::SetFaults(const TSimFaults& faults) {
    std::lock_guard lock(m_mutex);
    m_faults = faults;
    ++m_faultsGeneration;
    m_noise.seed(faults.noiseSeed);
}

std::vector<std::string> CSimClock::GetCommandLog() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

void CSimClock::ClearCommandLog() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
}

double CSimClock::TimeOffsetAt(double hostSeconds) const {
    std::lock_guard lock(m_mutex);
    return m_offsetAtBase + m_driftPpm * 1e-6 * (hostSeconds - m_baseHost);
}

std::time_t CSimClock::GetClockTime() const {
    const double host = SystemSeconds();
    return static_cast<std::time_t>(std::floor(host + TimeOffsetAt(host)));
}

void CSimClock::SetClockTime(std::time_t utc) {
    const double host = SystemSeconds();
    std::lock_guard lock(m_mutex);
    m_baseHost = host;
    m_offsetAtBase = static_cast<double>(utc) - host;
}

void CSimClock::SetTimeOffset(double seconds) {
    const double host = SystemSeconds();
    std::lock_guard lock(m_mutex);
    m_baseHost = host;
    m_offsetAtBase = seconds;
}

void CSimClock::SetDriftPpm(double ppm) {
    const double host = SystemSeconds();
    const double reached = TimeOffsetAt(host);
    std::lock_guard lock(m_mutex);
    m_baseHost = host;
    m_offsetAtBase = reached;
    m_driftPpm = ppm;
}

std::string CSimClock::GetRomDate() const {
    std::lock_guard lock(m_mutex);
    return m_romDate;
}

void CSimClock::SetRomDate(const std::string& line) {
    std::lock_guard lock(m_mutex);
    m_romDate = line;
}

void CSimClock::SetCommandTimeoutMs(int ms) {
    std::lock_guard lock(m_mutex);
    m_commandTimeoutMs = std::max(1, ms);
}

void CSimClock::SetCommandHandler(std::function<void(const std::string&)> handler) {
    m_onCommand = std::move(handler);
}

void CSimClock::SetEepromStoredHandler(std::function<void(const TClockConfig&)> handler) {
    m_onEepromStored = std::move(handler);
}

bool CSimClock::Start() {
    if (IsRunning()) return true;
    auto fail = [this](const char* what) {
        m_lastError = std::string(what) + ": " + std::strerror(errno);
        CloseAll();
        return false;
    };

    m_masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_masterFd < 0) return fail("posix_openpt");
    if (::grantpt(m_masterFd) != 0) return fail("grantpt");
    if (::unlockpt(m_masterFd) != 0) return fail("unlockpt");
    char name[256] = {};
    if (::ptsname_r(m_masterFd, name, sizeof(name)) != 0) return fail("ptsname_r");
    const int flags = ::fcntl(m_masterFd, F_GETFL);
    if (flags < 0 || ::fcntl(m_masterFd, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");

    // Our own slave descriptor is never read; it keeps the line up while the
    // program closes and reopens the device, and lets us see its baud rate.
    m_slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveFd < 0) return fail("open slave");
    termios tio{};
    if (::tcgetattr(m_slaveFd, &tio) != 0) return fail("tcgetattr");
    MakeRawLine(tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(m_slaveFd, TCSANOW, &tio) != 0) return fail("tcsetattr");

    // Exclusive mode set by a client would outlive its close because our
    // descriptor keeps the device open; watching closes lets us end it as the
    // last close of a real port would. Without the watch we serve anyway.
    m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        CloseFd(m_watchFd);

    m_devicePath = name;
    m_lineFd = m_masterFd;
    return StartServing();
}

bool CSimClock::StartServing() {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        m_lastError = std::string("eventfd: ") + std::strerror(errno);
        CloseAll();
        return false;
    }
    m_lastError.clear();
    ResetLine();
    m_bytesRead = 0;
    {
        std::lock_guard lock(m_answerMutex);
        m_bytesAnswered = 0;
        m_serving = true;
    }
    try {
        m_thread = std::thread(&CSimClock::Serve, this);
    } catch (const std::system_error& e) {
        m_lastError = e.what();
        SetServing(false);
        CloseAll();
        return false;
    }
    return true;
}

// A fresh line: no half command, no records awaited, nothing on its way.
void CSimClock::ResetLine() {
    m_parser.Reset();
    m_takingRecords = false;
    m_records.clear();
    m_commandBytes = 0;
    m_output.clear();
    m_lineFree = TClock::now();
    m_lastInput = TClock::now();
}

void CSimClock::SetServing(bool serving) {
    {
        std::lock_guard lock(m_answerMutex);
        m_serving = serving;
    }
    m_answerCv.notify_all();
}

std::uint64_t CSimClock::BytesAnswered() const {
    std::lock_guard lock(m_answerMutex);
    return m_bytesAnswered;
}

bool CSimClock::WaitAnswered(std::uint64_t count, int timeoutMs) const {
    std::unique_lock lock(m_answerMutex);
    return m_answerCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return m_bytesAnswered >= count || !m_serving; }) &&
           m_bytesAnswered >= count;
}

void CSimClock::Stop() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        // The eventfd counter cannot overflow from one write; ignore the result.
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
        m_thread.join();
    }
    SetServing(false);
    CloseAll();
}

void CSimClock::CloseAll() {
    CloseFd(m_clientFd);
    CloseFd(m_listenFd);
    m_lineFd = -1;
    CloseFd(m_watchFd);
    CloseFd(m_wakeFd);
    CloseFd(m_slaveFd);
    CloseFd(m_masterFd);
    m_devicePath.clear();
}

void CSimClock::Serve() {
    char buf[512];
    for (;;) {
        TClock::time_point now = TClock::now();
        CheckTimeouts(now);
        const bool blocked = WriteDueOutput(now);
        {
            std::lock_guard lock(m_answerMutex);
            if (m_bytesAnswered != m_bytesRead) {
                m_bytesAnswered = m_bytesRead;
                m_answerCv.notify_all();
            }
        }

        // Sleep until input, a stop, or the next thing that falls due.
        std::optional<TClock::time_point> wake;
        if (!m_output.empty() && !blocked) wake = m_output.front().due;
        if (m_takingRecords || !m_parser.Pending().empty()) {
            const TClock::time_point expiry = m_lastInput + std::chrono::milliseconds(CommandTimeoutMs());
            wake = wake ? std::min(*wake, expiry) : expiry;
        }
        timespec ts{};
        if (wake) {
            const auto left = std::max(TClock::duration::zero(), *wake - now);
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        // The third is the close watch on a pseudo-terminal, the listening
        // socket on TCP; poll skips a descriptor of -1 (no client yet).
        const int third = m_listenFd >= 0 ? m_listenFd : m_watchFd;
        pollfd fds[3] = {{m_wakeFd, POLLIN, 0},
                         {m_lineFd, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
                         {third, POLLIN, 0}};
        const int ready = ::ppoll(fds, 3, wake ? &ts : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) return;
        if (fds[2].revents & POLLIN) {
            if (m_listenFd >= 0) {
                AcceptClient();
            } else {
                char events[4096];
                while (::read(m_watchFd, events, sizeof(events)) > 0) {
                }
                ::ioctl(m_slaveFd, TIOCNXCL);
            }
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const ssize_t n = ::read(m_lineFd, buf, sizeof(buf));
                if (n > 0) {
                    m_bytesRead += static_cast<std::uint64_t>(n);
                    HandleInput(buf, static_cast<std::size_t>(n));
                    continue;
                }
                // A client that left; the pseudo-terminal never ends while our
                // slave descriptor is open.
                if (m_clientFd >= 0 && (n == 0 || (errno != EAGAIN && errno != EINTR)))
                    DropClient(n == 0 ? "left" : std::string("lost: ") + std::strerror(errno));
                break;
            }
        } else if (m_clientFd >= 0 && (fds[1].revents & (POLLHUP | POLLERR))) {
            DropClient("lost");  // reset before a read could see it
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while our slave descriptor is open; do not spin if
            // it does, but stay stoppable.
            pollfd stop{m_wakeFd, POLLIN, 0};
            if (::poll(&stop, 1, 100) > 0) return;
        }
    }
}
