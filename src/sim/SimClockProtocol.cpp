// What the simulated clock does with what it hears: commands byte by byte
// with their echoes, hex records, the replies and their pace on the line.
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "HexCodec.h"
#include "SimClock.h"
#include "TermiosLine.h"

namespace {

// More than any client could want queued; a clock's UART would overrun too.
constexpr std::size_t MAX_QUEUED_OUTPUT = 64 * 1024;

// The command log keeps the recent past only: a clock served for days would
// otherwise grow without end.
constexpr std::size_t MAX_LOGGED_COMMANDS = 1000;

// A record of the hex text: ':', 21 pairs of digits, CR LF; the last is shorter.
constexpr std::size_t RECORD_LENGTH = 45;

}  // namespace

int CSimClock::CommandTimeoutMs() const {
    std::lock_guard lock(m_mutex);
    return m_commandTimeoutMs;
}

void CSimClock::HandleInput(const char* data, std::size_t size) {
    const TClock::time_point now = TClock::now();
    CheckTimeouts(now);
    bool afterPause = now - m_lastInput >= std::chrono::milliseconds(BREAK_PAUSE_MS);
    m_lastInput = now;
    TSimFaults faults;
    {
        std::lock_guard lock(m_mutex);
        faults = m_faults;
        // "Every Nth byte" counts from the moment the faults were set.
        if (m_seenGeneration != m_faultsGeneration) m_commandBytes = 0;
        m_seenGeneration = m_faultsGeneration;
    }
    // A clock set to another rate hears only noise; it takes none of it.
    if (faults.onlyAtRate != 0 && LineRate() != faults.onlyAtRate) return;
    // On TCP the rate is the terminal server's business, not the clock's.
    if (faults.strictRate && m_slaveFd >= 0 && LineRate() != OwnRate()) return;
    for (std::size_t i = 0; i < size; ++i, afterPause = false) {
        // Records left unfinished, then a command after a pause: the break
        // the program sent before it would have ended the records.
        if (m_takingRecords && afterPause && !RecordsCanTake(data[i]) &&
            CSimCommandParser::IsCommandPrefix(std::string(1, data[i]))) {
            m_takingRecords = false;
            m_records.clear();
        }
        if (m_takingRecords)
            HandleRecordByte(data[i], faults);
        else
            HandleCommandByte(data[i], faults, afterPause);
    }
}

// Whether c fits the records text where it would land: ':' opens each
// record, CR LF ends it, hex digits fill it.
bool CSimClock::RecordsCanTake(char c) const {
    const std::size_t record = m_records.size() / RECORD_LENGTH;
    const std::size_t at = m_records.size() % RECORD_LENGTH;
    const std::size_t length = record + 1 < RAW_RECORD_COUNT ? RECORD_LENGTH : RAW_TEXT_SIZE - RECORD_LENGTH * record;
    if (at == 0) return c == ':';
    if (at == length - 2) return c == '\r';
    if (at == length - 1) return c == '\n';
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
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

void CSimClock::HandleCommandByte(char c, const TSimFaults& faults, bool afterPause) {
    ++m_commandBytes;
    const bool dropped = faults.dropEchoEvery > 0 &&
                         m_commandBytes % static_cast<std::uint64_t>(faults.dropEchoEvery) == 0;
    if (!faults.noEcho && !dropped) QueueEcho(faults.wrongEcho ? static_cast<char>(c ^ 0x01) : c);

    const CSimCommandParser::TResult result = m_parser.Feed(c, afterPause);
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
        case 'O': {
            std::lock_guard lock(m_mutex);
            m_active = m_eeprom;
            break;
        }
        case 'X': {  // a restarting clock loads its stored setup too, and its rate
            std::lock_guard lock(m_mutex);
            m_active = m_eeprom;
            m_ownRate = RateOf(m_eeprom);
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

std::uint32_t CSimClock::LineRate() const {
    // On TCP there is no line to set: the clock's factory 9600 baud.
    if (m_slaveFd < 0) return 9600;
    termios tio{};
    if (::tcgetattr(m_slaveFd, &tio) != 0) return 0;
    return SpeedToRate(::cfgetospeed(&tio));
}

CSimClock::TClock::duration CSimClock::CharTime() const {
    if (!GetFaults().realisticPace) return TClock::duration::zero();
    // On TCP there is no line to set: the clock's factory 9600 baud.
    long long baud = 9600;
    if (m_slaveFd >= 0) {
        termios tio{};
        if (::tcgetattr(m_slaveFd, &tio) != 0) return TClock::duration::zero();
        // B0 or a rate outside the table: no pacing.
        baud = SpeedToRate(::cfgetospeed(&tio));
    }
    if (baud <= 0) return TClock::duration::zero();
    // Start bit, eight data bits, stop bit.
    return std::chrono::duration_cast<TClock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

bool CSimClock::WriteDueOutput(TClock::time_point now) {
    char chunk[1024];
    // Bytes sent while no client is connected are lost, as on a line with
    // nothing plugged in.
    if (m_lineFd < 0) {
        while (!m_output.empty() && m_output.front().due <= now) m_output.pop_front();
        return false;
    }
    while (!m_output.empty() && m_output.front().due <= now) {
        std::size_t n = 0;
        while (n < sizeof(chunk) && n < m_output.size() && m_output[n].due <= now) {
            chunk[n] = m_output[n].c;
            ++n;
        }
        const ssize_t written = WriteLine(chunk, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            // EAGAIN: the program is not reading; wait until there is room.
            if (errno == EAGAIN || m_clientFd < 0) return true;
            DropClient(std::string("lost: ") + std::strerror(errno));
            return false;
        }
        m_output.erase(m_output.begin(), m_output.begin() + written);
        if (static_cast<std::size_t>(written) < n) return true;
    }
    return false;
}
