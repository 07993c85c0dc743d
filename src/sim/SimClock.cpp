#include "SimClock.h"

#include <algorithm>
#include <cerrno>
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
#include "TermiosLine.h"

namespace {

// More than any client could want queued; a clock's UART would overrun too.
constexpr std::size_t MAX_QUEUED_OUTPUT = 64 * 1024;

// The command log keeps the recent past only: a clock served for days would
// otherwise grow without end.
constexpr std::size_t MAX_LOGGED_COMMANDS = 1000;

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

std::time_t CSimClock::GetClockTime() const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::time_t>(std::time(nullptr) + m_timeOffset);
}

void CSimClock::SetClockTime(std::time_t utc) {
    std::lock_guard lock(m_mutex);
    m_timeOffset = static_cast<std::int64_t>(utc) - static_cast<std::int64_t>(std::time(nullptr));
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

    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) return fail("eventfd");

    // Exclusive mode set by a client would outlive its close because our
    // descriptor keeps the device open; watching closes lets us end it as the
    // last close of a real port would. Without the watch we serve anyway.
    m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        CloseFd(m_watchFd);

    m_devicePath = name;
    m_lastError.clear();
    m_parser.Reset();
    m_takingRecords = false;
    m_records.clear();
    m_commandBytes = 0;
    m_output.clear();
    m_lineFree = TClock::now();
    m_lastInput = TClock::now();
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
        pollfd fds[3] = {{m_wakeFd, POLLIN, 0},
                         {m_masterFd, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
                         {m_watchFd, POLLIN, 0}};
        const nfds_t count = m_watchFd >= 0 ? 3 : 2;
        const int ready = ::ppoll(fds, count, wake ? &ts : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) return;
        if (count == 3 && (fds[2].revents & POLLIN)) {
            char events[4096];
            while (::read(m_watchFd, events, sizeof(events)) > 0) {
            }
            ::ioctl(m_slaveFd, TIOCNXCL);
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const ssize_t n = ::read(m_masterFd, buf, sizeof(buf));
                if (n <= 0) break;
                m_bytesRead += static_cast<std::uint64_t>(n);
                HandleInput(buf, static_cast<std::size_t>(n));
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while our slave descriptor is open; do not spin if
            // it does, but stay stoppable.
            pollfd stop{m_wakeFd, POLLIN, 0};
            if (::poll(&stop, 1, 100) > 0) return;
        }
    }
}

int CSimClock::CommandTimeoutMs() const {
    std::lock_guard lock(m_mutex);
    return m_commandTimeoutMs;
}

void CSimClock::HandleInput(const char* data, std::size_t size) {
    const TClock::time_point now = TClock::now();
    CheckTimeouts(now);
    m_lastInput = now;
    TSimFaults faults;
    {
        std::lock_guard lock(m_mutex);
        faults = m_faults;
        // "Every Nth byte" counts from the moment the faults were set.
        if (m_seenGeneration != m_faultsGeneration) m_commandBytes = 0;
        m_seenGeneration = m_faultsGeneration;
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (m_takingRecords)
            HandleRecordByte(data[i], faults);
        else
            HandleCommandByte(data[i], faults);
    }
}

void CSimClock::CheckTimeouts(TClock::time_point now) {
    if (!m_takingRecords && m_parser.Pending().empty()) return;
    if (now - m_lastInput < std::chrono::milliseconds(CommandTimeoutMs())) return;
    if (m_takingRecords) {
        // The records never all arrived: active memory stays as it was.
        m_takingRecords = false;
        m_records.clear();
        QueueReply("?", GetFaults());
    }
    m_parser.Reset();
}

void CSimClock::HandleCommandByte(char c, const TSimFaults& faults) {
    ++m_commandBytes;
    const bool dropped = faults.dropEchoEvery > 0 &&
                         m_commandBytes % static_cast<std::uint64_t>(faults.dropEchoEvery) == 0;
    if (!faults.noEcho && !dropped) QueueEcho(faults.wrongEcho ? static_cast<char>(c ^ 0x01) : c);

    const CSimCommandParser::TResult result = m_parser.Feed(c);
    if (result.rejected) QueueReply("?", faults);
    if (result.complete) CarryOut(result.command, faults);
}

void CSimClock::HandleRecordByte(char c, const TSimFaults& faults) {
    m_records.push_back(c);
    if (m_records.size() < RAW_TEXT_SIZE) return;

    TClockConfig received{};
    const bool good = VerifyChecksums(m_records.data(), m_records.size()) &&
                      RawToConfig(received, m_records.data(), m_records.size());
    m_takingRecords = false;
    m_records.clear();
    if (!good) {
        QueueReply("?", faults);
        return;
    }
    if (faults.differAfterWrite) ConfigBytes(received)[CLOCK_CONFIG_SIZE - 1] ^= 0x01;
    SetActive(received);
}

void CSimClock::CarryOut(const std::string& command, const TSimFaults& faults) {
    {
        std::lock_guard lock(m_mutex);
        if (m_log.size() >= MAX_LOGGED_COMMANDS) m_log.erase(m_log.begin());
        m_log.push_back(command);
    }
    if (m_onCommand) m_onCommand(command);
    if (faults.answerQuestion) {
        QueueReply("?", faults);
        return;
    }

    if (command == "v") {
        QueueReply(faults.oldRom ? OLD_ROM_DATE : GetRomDate(), faults);
    } else if (command == "TU") {
        const std::time_t t = GetClockTime();
        std::tm utc{};
        ::gmtime_r(&t, &utc);
        char line[64];
        std::snprintf(line, sizeof(line), "%d:%d:%d:%d\r\n", utc.tm_yday + 1, utc.tm_hour,
                      utc.tm_min, utc.tm_sec);
        QueueReply(line, faults);
    } else if (command == "b0" || command.compare(0, 4, "0,0,") == 0) {
        // Accepted; these ask for no answer.
    } else if (command.size() == 18 && command.compare(16, 2, "TS") == 0) {
        if (!SetTimeFromText(command)) QueueReply("?", faults);
    } else {
        // "1,<model>X<op>"
        switch (command.back()) {
        case 'O':
        case 'X': {  // a restarting clock loads its stored setup too
            std::lock_guard lock(m_mutex);
            m_active = m_eeprom;
            break;
        }
        case 'T':
            QueueReply(RecordsText(faults), faults);
            break;
        case 'R':
            m_takingRecords = true;
            m_records.clear();
            break;
        case 'S': {
            TClockConfig stored;
            {
                std::lock_guard lock(m_mutex);
                m_eeprom = m_active;
                stored = m_eeprom;
            }
            if (m_onEepromStored) m_onEepromStored(stored);
            break;
        }
        default:
            QueueReply("?", faults);
            break;
        }
    }
}

bool CSimClock::SetTimeFromText(const std::string& command) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (std::sscanf(command.c_str(), "%4d:%2d:%2d:%2d:%2dTS", &year, &month, &day, &hour, &minute) != 5)
        return false;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59)
        return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    const std::time_t t = ::timegm(&tm);
    // timegm normalises 31 April into 1 May; the clock refuses such a date.
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != day || tm.tm_mon != month - 1) return false;
    SetClockTime(t);
    return true;
}

std::string CSimClock::RecordsText(const TSimFaults& faults) {
    char raw[COMM_BUFFER_SIZE] = {};
    const std::size_t size = ConfigToRaw(raw, sizeof(raw), GetActive());
    std::string text(raw, size);
    constexpr std::size_t RECORD_LENGTH = 45;
    constexpr std::size_t FIRST_DATA_DIGIT = 9;
    if (faults.badDigit && text.size() > RECORD_LENGTH + FIRST_DATA_DIGIT) {
        char& digit = text[RECORD_LENGTH + FIRST_DATA_DIGIT];
        digit = digit == '0' ? '1' : '0';
    }
    if (!faults.lineNoise) return text;

    std::string noisy;
    for (std::size_t start = 0; start < text.size(); start += RECORD_LENGTH) {
        if (start > 0) {
            std::lock_guard lock(m_mutex);
            if (m_noise() % 3 == 0) noisy += NoiseLocked();
        }
        noisy.append(text, start, RECORD_LENGTH);
    }
    return noisy;
}

std::string CSimClock::NoiseLocked() {
    std::string noise(1 + m_noise() % 3, '\0');
    // Garbled characters: bytes a clean line never carries, never ':' or '?'.
    for (char& c : noise) c = static_cast<char>(0x80 + m_noise() % 0x80);
    return noise;
}

void CSimClock::QueueEcho(char c) { Enqueue(std::string(1, c), TClock::now()); }

void CSimClock::QueueReply(const std::string& text, const TSimFaults& faults) {
    const TClock::time_point earliest = TClock::now() + std::chrono::milliseconds(faults.replyDelayMs);
    std::string out;
    if (faults.lineNoise) {
        std::lock_guard lock(m_mutex);
        if (m_noise() % 2 == 0) out = NoiseLocked();
    }
    out += text;
    Enqueue(out, earliest);
}

void CSimClock::Enqueue(const std::string& text, TClock::time_point earliest) {
    const TClock::duration charTime = CharTime();
    for (char c : text) {
        if (m_output.size() >= MAX_QUEUED_OUTPUT) break;
        const TClock::time_point due = std::max(earliest, m_lineFree);
        m_output.push_back({c, due});
        m_lineFree = due + charTime;
    }
}

CSimClock::TClock::duration CSimClock::CharTime() const {
    if (!GetFaults().realisticPace) return TClock::duration::zero();
    termios tio{};
    if (::tcgetattr(m_slaveFd, &tio) != 0) return TClock::duration::zero();
    // B0 or a rate outside the table: no pacing.
    const long long baud = SpeedToRate(::cfgetospeed(&tio));
    if (baud <= 0) return TClock::duration::zero();
    // Start bit, eight data bits, stop bit.
    return std::chrono::duration_cast<TClock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

bool CSimClock::WriteDueOutput(TClock::time_point now) {
    char chunk[1024];
    while (!m_output.empty() && m_output.front().due <= now) {
        std::size_t n = 0;
        while (n < sizeof(chunk) && n < m_output.size() && m_output[n].due <= now) {
            chunk[n] = m_output[n].c;
            ++n;
        }
        const ssize_t written = ::write(m_masterFd, chunk, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            // EAGAIN: the program is not reading; wait until there is room.
            return true;
        }
        m_output.erase(m_output.begin(), m_output.begin() + written);
        if (static_cast<std::size_t>(written) < n) return true;
    }
    return false;
}
