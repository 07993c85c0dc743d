// Moving the whole record between the PC and the clock: the read sequence
// with its checks, the untrusted checksums of a ROM the model table names,
// and the write sequence with its verification and countdowns.
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "ClockState.h"
#include "CommPort.h"
#include "LineWait.h"
#include "Messages.h"
#include "Waits.h"  // the process-wide sleep
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"
#include "Trace.h"

namespace {

// The protocol's pauses, each the least time the clock is given.
constexpr unsigned kBreakPauseMs = 500;
constexpr unsigned kEepromLoadPauseMs = 200;
constexpr unsigned kAnswerPauseMs = 500;

}  // namespace

namespace {

std::string CommandText(const CClockModel& model, TClockCommand command) {
    std::string text;
    model.FormatCommand(text, command);
    return text;
}

// The 500 ms after a break count from when the break can have reached the
// clock: over the network, half a round trip after it was sent.
void PauseAfterBreak(const CCommPort& port) { SleepMs(kBreakPauseMs + port.RoundTripMs() / 2); }

}  // namespace

TClockResult CClockState::Read(CCommPort& port, bool eepromFirst) {
    TClockResult result = ReadConfig(m_config, port, eepromFirst);
    if (result) m_valid = true;
    return result;
}

TClockResult CClockState::ReadConfig(TClockConfig& target, CCommPort& port, bool eepromFirst) {
    TRACE("Attempting to read Clock State\n");
    if (!port.SendBreak()) {
        TRACE("Failed to send a break to comm port! Returning without getting Clock State.\n");
        return PortFailure(port);
    }
    if (!port.FlushWrites(CCommPort::PURGE_INPUT | CCommPort::DRAIN_OUTPUT)) return PortFailure(port);
    TRACE("Sleeping for 500 ms.\n");
    PauseAfterBreak(port);

    if (eepromFirst) {
        const TClockResult sent = SendCommand(port, EEPROM_TO_ACTIVE);
        if (!sent) {
            TRACE("Failed to transfer eeprom to active memory.\n");
            return sent;
        }
        TRACE("Sleeping for 200 ms.\n");
        LineWait::SleepUntil(LineWait::CommandTakenMs(port, sent.lastByteMs, NowMs()) + kEepromLoadPauseMs);
    }
    if (!port.FlushWrites(CCommPort::PURGE_INPUT | CCommPort::DRAIN_OUTPUT)) return PortFailure(port);
    const TClockResult sent = SendCommand(port, ACTIVE_TO_PC);
    if (!sent) {
        TRACE("Failed to transfer active memory to PC.\n");
        return sent;
    }
    const std::string command = CommandText(m_model, ACTIVE_TO_PC);
    std::size_t got = 0;
    unsigned waitedMs = 0;
    const long long taken = LineWait::CommandTakenMs(port, sent.lastByteMs, NowMs());
    if (TClockResult answer = TakeAnswer(port, command, taken, got, waitedMs); !answer) return answer;

    const char* buf = m_buffer.data();
    const std::size_t size = m_buffer.size();
    auto fail = [&](TClockFailure failure) {
        TClockResult result = TClockResult::Fail(failure, command);
        result.count = static_cast<unsigned>(got);
        result.ms = waitedMs;
        return result;
    };
    if (!HasNoQuestionMark(buf, size)) {
        TRACE("Clock didn't understand the last command.\n");
        return fail(TClockFailure::Refused);
    }
    if (!CheckHeader(buf, size)) {
        TRACE("Bad internal comm buffer header.\n");
        if (got == 0) return fail(TClockFailure::NoReply);
        return fail(RecordsComplete(buf, got) ? TClockFailure::BadHeader : TClockFailure::ShortAnswer);
    }
    if (!HasAllRecords(buf, size) || !RecordsComplete(buf, got)) {
        TRACE("Not enough records downloaded.\n");
        return fail(TClockFailure::ShortAnswer);
    }
    // The version is asked for only now, after the records were taken.
    if (UseChecksums(port)) {
        const TRecordFault fault = CheckRecords(buf, size);
        if (fault.kind != TRecordFault::None) {
            TRACE("Buffer failed check sum.\n");
            TClockResult result =
                fail(fault.kind == TRecordFault::Checksum ? TClockFailure::BadChecksum : TClockFailure::BadRecord);
            result.index = fault.record;
            return result;
        }
    }
    TClockConfig received{};
    if (!RawToConfig(received, buf, size)) {
        TRACE("Problem assigning internal clock config - yet checksum and other validations passed!\n");
        return fail(TClockFailure::ShortAnswer);
    }
    target = received;
    return TClockResult::Done();
}

// The clock's answer to the read command: taken until the nine records are
// all there or a '?' has come, within a bound; never judged before the
// answer's pause is over, and what has come by then is taken too.
TClockResult CClockState::TakeAnswer(CCommPort& port, const std::string& command, long long takenMs,
                                      std::size_t& got, unsigned& waitedMs) {
    // A short or missing reply must not leave an earlier reply's records to
    // be found, and the last byte stays a terminator for the text scans.
    ClearBuffer();
    const long long start = NowMs();
    const unsigned bound = LineWait::AnswerBoundMs(port, kAnswerPauseMs, RAW_TEXT_SIZE);
    const std::size_t capacity = m_buffer.size() - 1;
    got = 0;
    auto whole = [](const char* buf, std::size_t n) {
        return std::memchr(buf, '?', n) != nullptr || RecordsComplete(buf, n);
    };
    bool ok = LineWait::Collect(port, m_buffer.data(), capacity, got, start + bound, whole);
    if (ok) {
        LineWait::SleepUntil(takenMs + kAnswerPauseMs);
        ok = LineWait::Collect(port, m_buffer.data(), capacity, got, 0, whole);
    }
    waitedMs = static_cast<unsigned>(NowMs() - start);
    if (!ok) {
        TRACE("Failed to read clock state from comm port.\n");
        return PortFailure(port);
    }
    if (got >= capacity) {
        // A reply that fills the buffer is far longer than any set of records.
        TRACE("Failed to read clock state from comm port.\n");
        TClockResult result = TClockResult::Fail(TClockFailure::LongAnswer, command);
        result.count = static_cast<unsigned>(got);
        return result;
    }
    return TClockResult::Done();
}

bool CClockState::UseChecksums(CCommPort& port) {
    // The model's row names the ROM whose records carry bad checksums.
    const TClockModelRow* row = m_model.SelectedRow();
    if (!row || !row->untrustedChecksumRom) return true;
    if (!SendCommand(port, GET_VERSION)) {
        TRACE("Failed to write command TClockCommand::GET_VERSION to clock.\n");
        return true;
    }
    // The ROM date is due once the echo has come; it is awaited to its line end.
    char reply[32] = {};
    std::size_t count = 0;
    const long long deadline = NowMs() + LineWait::AnswerBoundMs(port, 0, sizeof reply);
    if (!LineWait::Collect(port, reply, sizeof reply - 1, count, deadline, [](const char* buf, std::size_t n) {
            return std::memchr(buf, '\n', n) != nullptr || std::memchr(buf, '?', n) != nullptr;
        })) {
        TRACE("Failed to read version from clock.\n");
        return true;
    }
    if (std::string(reply, count) != row->untrustedChecksumRom) return true;
    TRACE("Model %s with possible checksum problem version of ROM detected. \t\t\tIgnoring this clock's checksums.\n",
          row->name);
    return false;
}

TWriteResult CClockState::Write(CCommPort& port) {
    m_writeFailure = TClockResult::Done();
    return WriteSteps(port);
}

TWriteResult CClockState::WriteSteps(CCommPort& port) {
    auto failed = [this](TClockResult why, TWriteLeft left = TWriteLeft::Nothing) {
        m_writeFailure = std::move(why);
        m_writeFailure.left = left;
        return TWriteResult::Failed;
    };
    if (!port.SendBreak()) return failed(PortFailure(port));
    PauseAfterBreak(port);
    const TClockResult sent = SendCommand(port, PC_TO_ACTIVE);
    if (!sent) {
        TRACE("Failed to transfer PC to active memory.\n");
        return failed(sent);
    }
    LineWait::SleepUntil(LineWait::CommandTakenMs(port, sent.lastByteMs, NowMs()) + kEepromLoadPauseMs);

    ClearBuffer();
    const std::size_t length = ConfigToRaw(m_buffer.data(), m_buffer.size(), m_config);
    if (length == 0) {
        TRACE("Problem converting internal clock config to hex format!\n");
        return failed(TClockResult::Fail(TClockFailure::NoRecords));
    }
    if (!HasAllRecords(m_buffer.data(), m_buffer.size())) {
        TRACE("Not enough records in buffer to send to clock (ConfigToRaw has a problem).\n");
        return failed(TClockResult::Fail(TClockFailure::NoRecords));
    }
    if (!VerifyChecksums(m_buffer.data(), m_buffer.size())) {
        TRACE("Buffer failed check sum (ConfigToRaw has a problem).\n");
        return failed(TClockResult::Fail(TClockFailure::NoRecords));
    }
    // The records go in one block; the clock does not echo them.
    if (!port.Write(reinterpret_cast<const unsigned char*>(m_buffer.data()), static_cast<unsigned>(length)))
        return failed(PortFailure(port));

    // The clock takes the records while the user watches the countdown; a
    // cancel ends the write here, as done.
    std::unique_ptr<ICountdown> countdown = MakeCountdown(0, 10, 1);
    countdown->SetStage(GetString(IDS_STAGE_TAKING));
    if (countdown->DoModal() == IDCANCEL) return TWriteResult::CancelledUnverified;

    // Read back what the clock now holds in active memory, not its EEPROM.
    TClockConfig readBack;
    std::memset(&readBack, 0xFF, sizeof(readBack));
    if (TClockResult read = ReadConfig(readBack, port, false); !read) return failed(read);
    if (std::memcmp(&readBack, &m_config, sizeof(readBack)) != 0) {
        Tell(GetString(IDS_SETUP_MISMATCH));
        return failed(TClockResult::Fail(TClockFailure::Mismatch));
    }

    countdown->SetStage(GetString(IDS_STAGE_BEFORE_STORE));
    if (countdown->DoModal() == IDCANCEL) return TWriteResult::CancelledUnstored;
    if (TClockResult sent = SendCommand(port, ACTIVE_TO_EEPROM); !sent) {
        TRACE("Failed to transfer active memory to eeprom.\n");
        // Some of the command reached the clock: it may have been taken.
        return failed(sent, TWriteLeft::MayHoldNew);
    }

    countdown->SetRange(0, 10);
    countdown->SetStage(GetString(IDS_STAGE_BEFORE_RESET));
    if (countdown->DoModal() == IDCANCEL) return TWriteResult::CancelledNoReset;
    if (TClockResult sent = SendCommand(port, RESET); !sent) {
        TRACE("Failed to reset clock.\n");
        return failed(sent, TWriteLeft::StoredNotReset);
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
