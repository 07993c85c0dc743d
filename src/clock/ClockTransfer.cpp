// Moving the whole record between the PC and the clock: the read sequence
// with its checks, the K203's ROM-date exception, and the write sequence with
// its verification and countdowns.
#include <cstring>
#include <memory>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "Messages.h"
#include "Prompts.h"  // the process-wide sleep
#include "Resource.h"
#include "StringTable.h"
#include "Trace.h"

namespace {

// The K203 whose ROM carries this date sends records with bad checksums.
constexpr int kChecksumProblemModel = 2;
constexpr char kChecksumProblemRom[] = "23 Oct 1996\r\n";

}  // namespace

bool CClockState::Read(CCommPort& port, bool eepromFirst) {
    if (!ReadConfig(m_config, port, eepromFirst)) return false;
    m_valid = true;
    return true;
}

bool CClockState::ReadConfig(TClockConfig& target, CCommPort& port, bool eepromFirst) {
    TRACE("Attempting to read Clock State\n");
    if (!port.SendBreak()) {
        TRACE("Failed to send a break to comm port! Returning without getting Clock State.\n");
        return false;
    }
    if (!port.FlushWrites(3)) return false;
    TRACE("Sleeping for 500 ms.\n");
    SleepMs(500);

    if (eepromFirst) {
        if (!SendCommand(port, EEPROM_TO_ACTIVE)) {
            TRACE("Failed to transfer eeprom to active memory.\n");
            return false;
        }
        TRACE("Sleeping for 200 ms.\n");
        SleepMs(200);
    }
    if (!port.FlushWrites(3)) return false;
    if (!SendCommand(port, ACTIVE_TO_PC)) {
        TRACE("Failed to transfer active memory to PC.\n");
        return false;
    }
    // The clock's whole answer (377 characters, about 0.4 s at 9600 baud)
    // must be queued by then.
    SleepMs(500);

    // A short or missing reply must not leave an earlier reply's records to
    // be found, and the last byte stays a terminator for the text scans.
    ClearBuffer();
    const unsigned capacity = static_cast<unsigned>(m_buffer.size() - 1);
    unsigned count = capacity;
    if (!port.Read(reinterpret_cast<unsigned char*>(m_buffer.data()), count) || count >= capacity) {
        // A reply that fills the buffer is far longer than any set of records.
        TRACE("Failed to read clock state from comm port.\n");
        return false;
    }

    const char* buf = m_buffer.data();
    const std::size_t size = m_buffer.size();
    if (!HasNoQuestionMark(buf, size)) {
        TRACE("Clock didn't understand the last command.\n");
        return false;
    }
    if (!CheckHeader(buf, size)) {
        TRACE("Bad internal comm buffer header.\n");
        return false;
    }
    if (!HasAllRecords(buf, size)) {
        TRACE("Not enough records downloaded.\n");
        return false;
    }
    // The version is asked for only now, after the records were taken.
    if (UseChecksums(port) && !VerifyChecksums(buf, size)) {
        TRACE("Buffer failed check sum.\n");
        return false;
    }
    TClockConfig received{};
    if (!RawToConfig(received, buf, size)) {
        TRACE("Problem assigning internal clock config - yet checksum and other validations passed!\n");
        return false;
    }
    target = received;
    return true;
}

bool CClockState::UseChecksums(CCommPort& port) {
    if (m_model.GetModel() != kChecksumProblemModel) return true;
    if (!SendCommand(port, GET_VERSION)) {
        TRACE("Failed to write command TClockCommand::GET_VERSION to clock.\n");
        return true;
    }
    unsigned char reply[32] = {};
    unsigned count = sizeof(reply) - 1;
    if (!port.Read(reply, count)) {
        TRACE("Failed to read version from clock.\n");
        return true;
    }
    if (std::string(reinterpret_cast<const char*>(reply), count) != kChecksumProblemRom) return true;
    TRACE("Model K203 with possible checksum problem version of ROM detected. \t\t\tIgnoring this clock's checksums.\n");
    return false;
}

TWriteResult CClockState::Write(CCommPort& port) {
    if (!port.SendBreak()) return TWriteResult::Failed;
    SleepMs(500);
    if (!SendCommand(port, PC_TO_ACTIVE)) {
        TRACE("Failed to transfer PC to active memory.\n");
        return TWriteResult::Failed;
    }
    SleepMs(200);

    ClearBuffer();
    const std::size_t length = ConfigToRaw(m_buffer.data(), m_buffer.size(), m_config);
    if (length == 0) {
        TRACE("Problem converting internal clock config to hex format!\n");
        return TWriteResult::Failed;
    }
    if (!HasAllRecords(m_buffer.data(), m_buffer.size())) {
        TRACE("Not enough records in buffer to send to clock (ConfigToRaw has a problem).\n");
        return TWriteResult::Failed;
    }
    if (!VerifyChecksums(m_buffer.data(), m_buffer.size())) {
        TRACE("Buffer failed check sum (ConfigToRaw has a problem).\n");
        return TWriteResult::Failed;
    }
    // The records go in one block; the clock does not echo them.
    if (!port.Write(reinterpret_cast<const unsigned char*>(m_buffer.data()), static_cast<unsigned>(length)))
        return TWriteResult::Failed;

    // The clock takes the records while the user watches the countdown; a
    // cancel ends the write here, as done.
    std::unique_ptr<ICountdown> countdown = MakeCountdown(0, 10, 1);
    countdown->SetStage(GetString(IDS_STAGE_TAKING));
    if (countdown->DoModal() == IDCANCEL) return TWriteResult::CancelledUnverified;

    // Read back what the clock now holds in active memory, not its EEPROM.
    TClockConfig readBack;
    std::memset(&readBack, 0xFF, sizeof(readBack));
    if (!ReadConfig(readBack, port, false)) return TWriteResult::Failed;
    if (std::memcmp(&readBack, &m_config, sizeof(readBack)) != 0) {
        Tell(GetString(IDS_SETUP_MISMATCH));
        return TWriteResult::Failed;
    }

    countdown->SetStage(GetString(IDS_STAGE_BEFORE_STORE));
    if (countdown->DoModal() == IDCANCEL) return TWriteResult::CancelledUnstored;
    if (!SendCommand(port, ACTIVE_TO_EEPROM)) {
        TRACE("Failed to transfer active memory to eeprom.\n");
        return TWriteResult::Failed;
    }

    countdown->SetRange(0, 10);
    countdown->SetStage(GetString(IDS_STAGE_BEFORE_RESET));
    if (countdown->DoModal() == IDCANCEL) return TWriteResult::CancelledNoReset;
    if (!SendCommand(port, RESET)) {
        TRACE("Failed to reset clock.\n");
        return TWriteResult::Failed;
    }
    return TWriteResult::Written;
}

unsigned CancelledWriteText(TWriteResult result) {
    switch (result) {
    case TWriteResult::CancelledUnverified: return IDS_WRITE_CANCELLED_UNVERIFIED;
    case TWriteResult::CancelledUnstored: return IDS_WRITE_CANCELLED_UNSTORED;
    case TWriteResult::CancelledNoReset: return IDS_WRITE_CANCELLED_NO_RESET;
    default: return 0;
    }
}
