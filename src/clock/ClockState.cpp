#include "ClockState.h"

#include <cstring>
#include <istream>
#include <ostream>

#include "Resource.h"
#include "SetupItems.h"
#include "StringTable.h"
#include "Trace.h"

const char CClockState::FILE_SIGNATURE[] = "Halvern Clock State";
static_assert(sizeof(CClockState::FILE_SIGNATURE) <= CClockState::FILE_SIGNATURE_SIZE);

namespace {

// Reads up to n bytes; returns how many arrived. A stream that throws on
// end of file is treated like one that does not.
std::size_t ReadUpTo(std::istream& in, char* buf, std::size_t n) {
    try {
        in.read(buf, static_cast<std::streamsize>(n));
    } catch (const std::ios_base::failure&) {
    }
    return static_cast<std::size_t>(in.gcount());
}

enum TDumpType { HEADING, U8, S8, U16, S16, U32, S32 };

constexpr std::size_t FieldSize(TDumpType type) {
    switch (type) {
        case U16: case S16: return 2;
        case U32: case S32: return 4;
        case U8: case S8: return 1;
        case HEADING: return 0;
    }
    return 0;
}

struct TDumpLine {
    const char* text;  // the label, or the whole heading
    TDumpType type;
    std::size_t offset;
};

#define FIELD(field) offsetof(TClockConfig, field)
#define ANALOG(ch, field) (offsetof(TClockConfig, analog) + (ch) * sizeof(TAnalogChannel) + \
                           offsetof(TAnalogChannel, field))

// The listing, line by line. The labels are the ones support has always read,
// misspelling and double space included.
constexpr TDumpLine DUMP_LINES[] = {
    {"Model ", U8, FIELD(model)},
    {"External ", U8, FIELD(external)},
    {"\nMain\n", HEADING, 0},
    {"Baud ", U8, FIELD(mainBaud)},
    {"Data Bits ", U8, FIELD(mainDataBits)},
    {"Stop Bits ", U8, FIELD(mainStopBits)},
    {"Parity ", U8, FIELD(mainParity)},
    {"\n", HEADING, 0},
    {"\nOption\n", HEADING, 0},
    {"Baud ", U8, FIELD(optionBaud)},
    {"Data Bits ", U8, FIELD(optionDataBits)},
    {"Stop Bits ", U8, FIELD(optionStopBits)},
    {"Parity ", U8, FIELD(optionParity)},
    {"\n", HEADING, 0},
    {"Back Light ", U8, FIELD(backLight)},
    {"Key Lock ", U8, FIELD(keyLock)},
    {"Local Offset ", S16, FIELD(localOffset)},
    {"Day Saving ", U8, FIELD(daySaving)},
    {"DST Minutes ", U8, FIELD(dstMinutes)},
    {"DST Hours ", U8, FIELD(dstHours)},
    {"Lock Time ", U16, FIELD(lockTime)},
    {"Cable Delay ", U32, FIELD(cableDelay)},
    {"System Delay ", U32, FIELD(systemDelay)},
    {"CH A Time Select ", U8, FIELD(chATimeSelect)},
    {"CH B Time Select ", U8, FIELD(chBTimeSelect)},
    {"CH C Time Select ", U8, FIELD(chCTimeSelect)},
    {"Irig Time Select ", U8, FIELD(irigTimeSelect)},
    {"CH A Select ", U8, FIELD(chASelect)},
    {"CH B Select ", U8, FIELD(chBSelect)},
    {"Recorder Select ", U8, FIELD(recorderSelect)},
    {"Broadcast Select ", U8, FIELD(broadcastSelect)},
    {"Broadcast Time Select  ", U8, FIELD(broadcastTimeSelect)},
    {"\nMark\n", HEADING, 0},
    {"Time Type ", U8, FIELD(markTimeType)},
    {"FSeconds ", U8, FIELD(markFSeconds)},
    {"Seconds ", U8, FIELD(markSeconds)},
    {"Minutes ", U8, FIELD(markMinutes)},
    {"Hours ", U8, FIELD(markHours)},
    {"Day ", U16, FIELD(markDay)},
    {"\n", HEADING, 0},
    {"Pulse Mode ", U8, FIELD(pulseMode)},
    {"Seconds Per Pulse ", U16, FIELD(secondsPerPulse)},
    {"Pulse Width ", U16, FIELD(pulseWidth)},
    {"Psotion Hold ", U8, FIELD(positionHold)},
    {"Survey Mode ", U8, FIELD(surveyMode)},
    {"Survey Duration ", U8, FIELD(surveyDuration)},
    {"Fix N ", S32, FIELD(fixN)},
    {"Fix Count ", S32, FIELD(fixCount)},
    {"Longitude Sum ", S32, FIELD(longitudeSum)},
    {"Latitude Sum ", S32, FIELD(latitudeSum)},
    {"Altitude Sum ", S32, FIELD(altitudeSum)},
    {"\nSTime\n", HEADING, 0},
    {"Year ", U16, FIELD(sTimeYear)},
    {"Day of Year ", U16, FIELD(sTimeDayOfYear)},
    {"Hours ", S8, FIELD(sTimeHours)},
    {"Minutes ", S8, FIELD(sTimeMinutes)},
    {"Seconds ", S8, FIELD(sTimeSeconds)},
    {"\n", HEADING, 0},
    {"\nSurvey Longitude\n", HEADING, 0},
    {"MSec ", S32, FIELD(lonMSec)},
    {"Sign ", S8, FIELD(lonSign)},
    {"Deg ", U16, FIELD(lonDeg)},
    {"Min ", U16, FIELD(lonMin)},
    {"Sec ", U16, FIELD(lonSec)},
    {"FSec ", U16, FIELD(lonFSec)},
    {"\n", HEADING, 0},
    {"\nSurvey Latitude\n", HEADING, 0},
    {"MSec ", S32, FIELD(latMSec)},
    {"Sign ", S8, FIELD(latSign)},
    {"Deg ", U16, FIELD(latDeg)},
    {"Min ", U16, FIELD(latMin)},
    {"Sec ", U16, FIELD(latSec)},
    {"FSec ", U16, FIELD(latFSec)},
    {"\n", HEADING, 0},
    {"MSL Altitude ", S32, FIELD(mslAltitude)},
    {"\nOption\n", HEADING, 0},
    {"A ", U8, FIELD(optionA)},
    {"B ", U8, FIELD(optionB)},
    {"4 ", U8, FIELD(option4)},
    {"16 ", U8, FIELD(option16)},
    {"18 ", U8, FIELD(option18)},
    {"24 ", U8, FIELD(option24)},
    {"Broadcast Select ", U8, FIELD(optBroadcastSelect)},
    {"Broadcast Time Select ", U8, FIELD(optBroadcastTimeSelect)},
    {"\n", HEADING, 0},
    {"\nAnalog\n", HEADING, 0},
    {"Signal ", U8, ANALOG(0, signal)},
    {"Range ", U8, ANALOG(0, range)},
    {"Rate ", U8, ANALOG(0, rate)},
    {"Cal Fac ", U8, ANALOG(0, calFac)},
    {"Signal ", U8, ANALOG(1, signal)},
    {"Range ", U8, ANALOG(1, range)},
    {"Rate ", U8, ANALOG(1, rate)},
    {"Cal Fac ", U8, ANALOG(1, calFac)},
    {"Signal ", U8, ANALOG(2, signal)},
    {"Range ", U8, ANALOG(2, range)},
    {"Rate ", U8, ANALOG(2, rate)},
    {"Cal Fac ", U8, ANALOG(2, calFac)},
    {"Option 23a ", U8, FIELD(option23a)},
    {"Option 23b ", U8, FIELD(option23b)},
};

#undef FIELD
#undef ANALOG

constexpr bool DumpLinesInsideRecord() {
    std::size_t values = 0;
    for (const TDumpLine& line : DUMP_LINES) {
        if (line.offset + FieldSize(line.type) > CLOCK_CONFIG_SIZE) return false;
        if (line.type != HEADING) ++values;
    }
    return values == 85;
}
static_assert(DumpLinesInsideRecord(), "every dumped field lies inside the record");

std::string FormatField(const std::uint8_t* p, TDumpType type) {
    switch (type) {
        case U8: return std::to_string(p[0]);
        case S8: return std::to_string(static_cast<std::int8_t>(p[0]));
        case U16: return std::to_string(GetBE16(p));
        case S16: return std::to_string(static_cast<std::int16_t>(GetBE16(p)));
        case U32: return std::to_string(GetBE32(p));
        case S32: return std::to_string(static_cast<std::int32_t>(GetBE32(p)));
        case HEADING: break;
    }
    return std::string();
}

}  // namespace

void CClockState::Tell(const std::string& text) const {
    if (m_ui) m_ui->ShowMessage(text);
}

std::unique_ptr<ICountdown> CClockState::MakeCountdown(int lower, int upper, int step) const {
    if (m_ui) {
        if (auto made = m_ui->MakeCountdown(lower, upper, step)) return made;
    }
    return MakeSilentCountdown(lower, upper, step);
}

bool CClockState::SetItem(int item, int value, bool showError) {
    if (::SetItem(m_config, item, value)) return true;
    // The text names only the range, also when a special rule refused the value.
    std::string text;
    if (showError && GetRangeMessage(item, text)) Tell(text);
    return false;
}

void CClockState::Serialize(std::ostream& out) const {
    char header[4 + FILE_SIGNATURE_SIZE] = {};
    header[0] = static_cast<char>(FILE_REVISION & 0xFF);
    header[1] = static_cast<char>((FILE_REVISION >> 8) & 0xFF);
    header[2] = static_cast<char>((FILE_REVISION >> 16) & 0xFF);
    header[3] = static_cast<char>((FILE_REVISION >> 24) & 0xFF);
    std::memcpy(header + 4, FILE_SIGNATURE, sizeof FILE_SIGNATURE);
    try {
        out.write(header, sizeof header);
        out.write(reinterpret_cast<const char*>(ConfigBytes(m_config)),
                  static_cast<std::streamsize>(CLOCK_CONFIG_SIZE));
        out.flush();
    } catch (const std::ios_base::failure& e) {
        throw CFileError(CFileError::WRITE_FAILED, e.what());
    }
    if (!out) throw CFileError(CFileError::WRITE_FAILED, "the setup could not be written");
}

TLoadResult CClockState::Serialize(std::istream& in) {
    unsigned char revisionBytes[4];
    if (ReadUpTo(in, reinterpret_cast<char*>(revisionBytes), sizeof revisionBytes) < 4)
        throw CFileError(CFileError::READ_FAILED, "the file is too short to be a clock setup");
    const std::uint32_t revision = std::uint32_t(revisionBytes[0]) |
                                   (std::uint32_t(revisionBytes[1]) << 8) |
                                   (std::uint32_t(revisionBytes[2]) << 16) |
                                   (std::uint32_t(revisionBytes[3]) << 24);

    // Missing signature bytes stay zero, which never matches the text.
    char signature[FILE_SIGNATURE_SIZE] = {};
    ReadUpTo(in, signature, sizeof signature);
    if (std::strncmp(signature, FILE_SIGNATURE, FILE_SIGNATURE_SIZE) != 0 || revision == 0) {
        Tell(GetString(IDS_UNKNOWN_FILE_TYPE));
        return TLoadResult::Refused;
    }
    if (revision != FILE_REVISION) {
        Tell(GetString(IDS_UNKNOWN_FILE_REVISION));
        return TLoadResult::Refused;
    }

    // A record cut short is refused whole: half of a new setup over half of
    // the old one would be a setup nobody made.
    TClockConfig record;
    if (ReadUpTo(in, reinterpret_cast<char*>(ConfigBytes(record)), CLOCK_CONFIG_SIZE) <
        CLOCK_CONFIG_SIZE)
        throw CFileError(CFileError::READ_FAILED, "the clock setup in the file is incomplete");
    m_config = record;
    m_valid = true;
    return TLoadResult::Loaded;
}

void CClockState::Dump(std::ostream& out) const {
    TRACE("Dumping clock state.\n");
    std::string text;
    text.reserve(2048);
    const std::uint8_t* record = ConfigBytes(m_config);
    for (const TDumpLine& line : DUMP_LINES) {
        text += line.text;
        if (line.type == HEADING) continue;
        text += FormatField(record + line.offset, line.type);
        text += '\n';
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}
