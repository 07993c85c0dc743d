#include "SimProtocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "HexCodec.h"
#include "SimClockTime.h"
#include "SimFaultInjector.h"
#include "SimMemories.h"
#include "SimOutput.h"

namespace {

// The command log keeps the recent past only: a clock served for days would
// otherwise grow without end.
constexpr std::size_t MAX_LOGGED_COMMANDS = 1000;

constexpr std::size_t RECORD_LENGTH = CSimFaultInjector::RECORD_LENGTH;

}  // namespace

void CSimProtocol::Reset() {
    m_parser.Reset();
    m_takingRecords = false;
    m_records.clear();
    m_faults.ResetLine();
    m_output.Clear();
    m_lastInput = TClock::now();
}

std::vector<std::string> CSimProtocol::GetCommandLog() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

void CSimProtocol::ClearCommandLog() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
}

std::string CSimProtocol::GetRomDate() const {
    std::lock_guard lock(m_mutex);
    return m_romDate;
}

void CSimProtocol::SetRomDate(const std::string& line) {
    std::lock_guard lock(m_mutex);
    m_romDate = line;
}

void CSimProtocol::SetCommandTimeoutMs(int ms) {
    std::lock_guard lock(m_mutex);
    m_commandTimeoutMs = std::max(1, ms);
}

int CSimProtocol::CommandTimeoutMs() const {
    std::lock_guard lock(m_mutex);
    return m_commandTimeoutMs;
}

void CSimProtocol::Take(const char* data, std::size_t size) {
    const TClock::time_point now = TClock::now();
    CheckTimeouts(now);
    bool afterPause = now - m_lastInput >= std::chrono::milliseconds(BREAK_PAUSE_MS);
    m_lastInput = now;
    const TSimFaults faults = m_faults.ForInput();
    const TSimLineRate line = m_lineRate ? m_lineRate() : TSimLineRate{};
    // A clock set to another rate hears only noise; it takes none of it.
    if (faults.onlyAtRate != 0 && line.rate != faults.onlyAtRate) return;
    // On TCP the rate is the terminal server's business, not the clock's.
    if (faults.strictRate && line.settable && line.rate != m_memories.OwnRate()) return;
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
bool CSimProtocol::RecordsCanTake(char c) const {
    const std::size_t record = m_records.size() / RECORD_LENGTH;
    const std::size_t at = m_records.size() % RECORD_LENGTH;
    const std::size_t length = record + 1 < RAW_RECORD_COUNT ? RECORD_LENGTH : RAW_TEXT_SIZE - RECORD_LENGTH * record;
    if (at == 0) return c == ':';
    if (at == length - 2) return c == '\r';
    if (at == length - 1) return c == '\n';
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::optional<CSimProtocol::TClock::time_point> CSimProtocol::InputExpiry() const {
    if (!m_takingRecords && m_parser.Pending().empty()) return std::nullopt;
    return m_lastInput + std::chrono::milliseconds(CommandTimeoutMs());
}

void CSimProtocol::CheckTimeouts(TClock::time_point now) {
    const std::optional<TClock::time_point> expiry = InputExpiry();
    if (!expiry || now < *expiry) return;
    if (m_takingRecords) {
        // The records never all arrived: active memory stays as it was.
        m_takingRecords = false;
        m_records.clear();
        QueueReply("?", m_faults.Get());
    }
    m_parser.Reset();
}

void CSimProtocol::HandleCommandByte(char c, const TSimFaults& faults, bool afterPause) {
    m_heardHost = CSimClockTime::HostNow();
    if (const std::optional<char> echo = m_faults.Echo(c, faults))
        m_output.Enqueue(std::string(1, *echo), TClock::now(), CharTime());

    const CSimCommandParser::TResult result = m_parser.Feed(c, afterPause);
    if (result.rejected) QueueReply("?", faults);
    if (result.complete) CarryOut(result.command, faults);
}

void CSimProtocol::HandleRecordByte(char c, const TSimFaults& faults) {
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
    m_faults.Taken(received, faults);
    m_memories.SetActive(received);
}

void CSimProtocol::CarryOut(const std::string& command, const TSimFaults& faults) {
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
        QueueReply(TimeLine(), faults);
    } else if (command == "b0" || command.compare(0, 4, "0,0,") == 0) {
        // Accepted; these ask for no answer.
    } else if (command.size() == 18 && command.compare(16, 2, "TS") == 0) {
        if (!SetTimeFromText(command)) QueueReply("?", faults);
    } else {
        // "1,<model>X<op>"
        switch (command.back()) {
        case 'O':
            m_memories.LoadStored();
            break;
        case 'X':  // a restarting clock loads its stored setup too, and its rate
            m_memories.Restart();
            break;
        case 'T':
            QueueReply(RecordsText(faults), faults);
            break;
        case 'R':
            m_takingRecords = true;
            m_records.clear();
            break;
        case 'S': {
            const TClockConfig stored = m_memories.Store();
            if (m_onEepromStored) m_onEepromStored(stored);
            break;
        }
        default:
            QueueReply("?", faults);
            break;
        }
    }
}

// "day-of-year:hour:minute:second" of the whole second the clock is in.
std::string CSimProtocol::TimeLine() const {
    const std::time_t t = m_heardHost > 0 ? m_time.ClockTimeAt(m_heardHost) : m_time.GetClockTime();
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char line[64];
    std::snprintf(line, sizeof(line), "%d:%d:%d:%d\r\n", utc.tm_yday + 1, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return line;
}

bool CSimProtocol::SetTimeFromText(const std::string& command) {
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
    m_time.SetClockTime(t);
    return true;
}

std::string CSimProtocol::RecordsText(const TSimFaults& faults) {
    char raw[COMM_BUFFER_SIZE] = {};
    const std::size_t size = ConfigToRaw(raw, sizeof(raw), m_memories.GetActive());
    return m_faults.Records(std::string(raw, size), faults);
}

void CSimProtocol::QueueReply(const std::string& text, const TSimFaults& faults) {
    const TClock::time_point earliest = TClock::now() + std::chrono::milliseconds(faults.replyDelayMs);
    m_output.Enqueue(m_faults.Reply(text, faults), earliest, CharTime());
}

CSimProtocol::TClock::duration CSimProtocol::CharTime() const {
    if (!m_faults.Get().realisticPace) return TClock::duration::zero();
    const long long baud = m_lineRate ? m_lineRate().rate : TSimLineRate{}.rate;
    if (baud <= 0) return TClock::duration::zero();
    // Start bit, eight data bits, stop bit.
    return std::chrono::duration_cast<TClock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}
