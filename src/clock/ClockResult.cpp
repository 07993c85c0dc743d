#include "ClockResult.h"

#include <cstdio>
#include <utility>

#include "CommPort.h"
#include "Resource.h"
#include "StringTable.h"

std::string DescribeByte(int byte) {
    char text[8];
    if (byte >= 0x20 && byte < 0x7F)
        std::snprintf(text, sizeof text, "'%c'", static_cast<char>(byte));
    else
        std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte) & 0xFFu);
    return text;
}

TClockResult PortFailure(const CCommPort& port, std::string command) {
    TClockResult result = TClockResult::Fail(TClockFailure::Port, std::move(command));
    result.detail = port.GetLastFailure();
    return result;
}

TClockResult TClockResult::Fail(TClockFailure failure, std::string command) {
    TClockResult result;
    result.failure = failure;
    result.command = std::move(command);
    return result;
}

std::string TClockResult::Reason() const {
    const char* cmd = command.c_str();
    std::string text;
    switch (failure) {
    case TClockFailure::None: return std::string();
    case TClockFailure::Port:
        text = FormatString(GetString(IDS_WHY_PORT).c_str(),
                            detail.empty() ? GetString(IDS_WHY_PORT_UNKNOWN).c_str() : detail.c_str());
        break;
    case TClockFailure::NoCommand: text = FormatString(GetString(IDS_WHY_NO_COMMAND).c_str(), cmd); break;
    case TClockFailure::NoEcho:
        text = FormatString(GetString(IDS_WHY_NO_ECHO).c_str(), index, DescribeByte(sent).c_str(), cmd, ms);
        break;
    case TClockFailure::WrongEcho:
        // A '?' in place of an echo is the clock refusing the command.
        if (got == '?') {
            text = FormatString(GetString(IDS_WHY_REFUSED).c_str(), cmd);
            break;
        }
        text = FormatString(GetString(IDS_WHY_WRONG_ECHO).c_str(), index, cmd, DescribeByte(sent).c_str(),
                            DescribeByte(got).c_str());
        break;
    case TClockFailure::Refused: text = FormatString(GetString(IDS_WHY_REFUSED).c_str(), cmd); break;
    case TClockFailure::ShortAnswer: text = FormatString(GetString(IDS_WHY_SHORT_ANSWER).c_str(), cmd, count, ms); break;
    case TClockFailure::BadHeader: text = FormatString(GetString(IDS_WHY_BAD_HEADER).c_str(), cmd); break;
    case TClockFailure::BadRecord: text = FormatString(GetString(IDS_WHY_BAD_RECORD).c_str(), index); break;
    case TClockFailure::BadChecksum: text = FormatString(GetString(IDS_WHY_BAD_CHECKSUM).c_str(), index); break;
    case TClockFailure::Mismatch: text = GetString(IDS_WHY_MISMATCH); break;
    case TClockFailure::NoReply: text = FormatString(GetString(IDS_WHY_NO_REPLY).c_str(), cmd, ms); break;
    case TClockFailure::LongAnswer: text = FormatString(GetString(IDS_WHY_LONG_ANSWER).c_str(), cmd, count); break;
    case TClockFailure::NoRecords: text = GetString(IDS_WHY_NO_RECORDS); break;
    case TClockFailure::NotATime: text = FormatString(GetString(IDS_WHY_NOT_A_TIME).c_str(), cmd, detail.c_str()); break;
    }
    if (resentByte > 0) text += FormatString(GetString(IDS_WHY_SENT_AGAIN).c_str(), resentByte);
    if (left == TWriteLeft::MayHoldNew) text += GetString(IDS_WHY_MAY_HOLD_NEW);
    if (left == TWriteLeft::StoredNotReset) text += GetString(IDS_WHY_STORED_NOT_RESET);
    return text;
}

std::string TClockResult::Sentence() const {
    std::string text = Reason();
    if (text.empty()) return text;
    if (text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    if (text.back() != '.') text += '.';
    return text;
}

const char* TClockResult::Kind() const {
    switch (failure) {
    case TClockFailure::None: return "none";
    case TClockFailure::Port: return "port";
    case TClockFailure::NoCommand: return "no_command";
    case TClockFailure::NoEcho: return "no_echo";
    case TClockFailure::WrongEcho: return got == '?' ? "refused" : "wrong_echo";
    case TClockFailure::Refused: return "refused";
    case TClockFailure::ShortAnswer: return "short_answer";
    case TClockFailure::BadHeader: return "bad_header";
    case TClockFailure::BadRecord: return "bad_record";
    case TClockFailure::BadChecksum: return "bad_checksum";
    case TClockFailure::Mismatch: return "mismatch";
    case TClockFailure::NoReply: return "no_reply";
    case TClockFailure::LongAnswer: return "long_answer";
    case TClockFailure::NoRecords: return "no_records";
    case TClockFailure::NotATime: return "not_a_time";
    }
    return "unknown";
}
