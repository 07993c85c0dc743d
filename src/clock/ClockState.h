// The one clock configuration: the 130-byte record, whether a setup is
// present, the buffer the hex records are exchanged in, and the clock model.
#pragma once

#include <array>
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "ClockConfig.h"
#include "ClockModel.h"
#include "ClockResult.h"
#include "ClockUi.h"
#include "FileError.h"
#include "HexCodec.h"

class CCommPort;

// How a write to the clock ended. A cancelled countdown stops the write where
// it stands; each cancel names what was left undone.
enum class TWriteResult {
    Written,              // verified, stored in the EEPROM, clock reset
    Failed,               // the caller reports "Error writing to comm device."
    CancelledUnverified,  // first countdown: the records were sent, nothing more
    CancelledUnstored,    // second: verified, but not stored or reset
    CancelledNoReset,     // third: stored, but the clock was not reset
};
// The string id of the status text for a cancelled write; 0 for the others.
unsigned CancelledWriteText(TWriteResult result);

// What loading a setup file did with it.
enum class TLoadResult {
    Loaded,   // the record was taken and the setup is present
    Refused,  // wrong signature or revision: the user was told; nothing changed
};

class CClockState {
public:
    // The file: 4-byte revision, signature with its zero byte, the record.
    static constexpr std::size_t FILE_SIGNATURE_SIZE = 20;
    static constexpr std::size_t FILE_SIZE = 4 + FILE_SIGNATURE_SIZE + CLOCK_CONFIG_SIZE;  // 154
    static constexpr std::uint32_t FILE_REVISION = 1;
    static const char FILE_SIGNATURE[];  // "Halvern Clock State"

    CClockState() = default;

    // Where messages and countdowns go; null for none. Not owned.
    void SetUi(IClockUi* ui) { m_ui = ui; }
    IClockUi* GetUi() const { return m_ui; }

    bool IsValid() const { return m_valid; }
    // The record, read and changed in place by the pages.
    TClockConfig* GetConfig() { return &m_config; }
    const TClockConfig* GetConfig() const { return &m_config; }

    // Checks and stores one setup item in the record. A refused value is
    // told to the UI with its valid range when showError is set.
    bool SetItem(int item, int value, bool showError);

    void GetModelList(std::vector<std::string>& list) const { m_model.GetModelList(list); }
    bool GetModelName(std::string& name) const { return m_model.GetModelName(name); }
    void SetModel(int index) { m_model.SetModel(index); }
    int GetModel() const { return m_model.GetModel(); }

    // The command through the model's echo-checked writer, 5 tries per byte.
    TClockResult SendCommand(CCommPort& port, TClockCommand command);

    // Reads the clock's setup into the record; on failure the record and the
    // presence flag stay as they were. eepromFirst has the clock load its
    // stored setup into active memory before sending it.
    TClockResult Read(CCommPort& port, bool eepromFirst);
    // The read sequence; target is written only when everything checked out.
    TClockResult ReadConfig(TClockConfig& target, CCommPort& port, bool eepromFirst);
    // Sends the record into the clock's active memory, reads it back to
    // verify it, has the clock store it and resets the clock, with a
    // countdown before each of the last three stages. Cancelling a countdown
    // ends the write early, reported as cancelled. The record is never changed.
    TWriteResult Write(CCommPort& port);
    // Why the last Write failed, and how far it had come.
    const TClockResult& GetWriteFailure() const { return m_writeFailure; }

    // Asks the clock for its UTC time ("TU"): line is its reply up to the
    // line end, read once the reply's pause is over and awaited further up
    // to a bound. Refused when the clock answered '?'.
    TClockResult AskTime(CCommPort& port, std::string& line);
    // Sets the clock's time from the PC's local time; Refused when the clock
    // answered '?' within the pause it is given for that.
    TClockResult SetTime(CCommPort& port);
    // False when the clock's record checksums are not to be trusted (its
    // model's row names the ROM date it answered); any trouble asking the
    // clock keeps them on.
    bool UseChecksums(CCommPort& port);

    // The communication buffer for the hex records.
    void ClearBuffer() { m_buffer.fill(0); }
    char* GetBuffer() { return m_buffer.data(); }
    const char* GetBuffer() const { return m_buffer.data(); }
    static constexpr std::size_t GetBufferSize() { return COMM_BUFFER_SIZE; }

    // The hex-record codec works on this buffer through the functions of
    // HexCodec.h (ConfigToRaw, RawToConfig and the buffer checks).

    // Stores the setup file's 154 bytes; throws CFileError when the stream fails.
    void Serialize(std::ostream& out) const;
    // Loads a setup file. A wrong signature or revision is told to the UI
    // and refused. Throws CFileError when the file is unreadable: shorter than
    // its revision, or a record cut short. Only a complete record is taken.
    TLoadResult Serialize(std::istream& in);

    // The readable listing of the record: labelled decimal values, LF only.
    void Dump(std::ostream& out) const;

private:
    // To the UI, when there is one.
    void Tell(const std::string& text) const;
    std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) const;
    TWriteResult WriteSteps(CCommPort& port);
    // takenMs: when the clock took the command (NowMs), its pause counts from there.
    TClockResult TakeAnswer(CCommPort& port, const std::string& command, long long takenMs, std::size_t& got,
                            unsigned& waitedMs);

    bool m_valid = false;
    TClockConfig m_config{};
    std::array<char, COMM_BUFFER_SIZE> m_buffer{};
    CClockModel m_model;
    IClockUi* m_ui = nullptr;
    TClockResult m_writeFailure;
};
