// The supported clock models and the text of each command for the selected one.
#pragma once

#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "ClockResult.h"

class CCommPort;

// Commands the clock understands; the values are fixed (they appear in traces).
enum TClockCommand : int {
    EEPROM_TO_ACTIVE = 0,  // clock copies its stored setup into active memory
    ACTIVE_TO_PC = 1,      // clock sends its active setup as hex records
    PC_TO_ACTIVE = 2,      // clock takes the hex records that follow
    ACTIVE_TO_EEPROM = 3,  // clock stores its active setup
    COMMAND_XZ = 4,
    RESET = 5,
    GET_VERSION = 6,       // clock answers with its ROM date line
    GET_UTC_TIME = 7,      // clock answers "%d:%d:%d:%d\r\n"
    SET_UTC_TIME = 8,      // the PC's local date and time
    COMMAND_B0 = 9,
};
// The values run from 0 without a gap.
constexpr int CLOCK_COMMAND_COUNT = COMMAND_B0 + 1;

// One row per clock model; what sets a model apart is a named field of its
// row, never a test of its index. Everything in the program reads this
// table; the bash completion asks `tarvelctl --list models`, and a test
// holds the man page, README and the Ansible collection to that list.
struct TClockModelRow {
    const char* name;         // as users, profiles and backups name it
    const char* commandText;  // the model text its commands carry
    // Answers the version command ("v") with its ROM date line, so a probe
    // can tell the model; the others only echo it.
    bool answersVersion = false;
    // The ROM date line (as it comes, CR LF included) of a ROM whose records
    // carry checksums not to be trusted; null for none.
    const char* untrustedChecksumRom = nullptr;
};

inline constexpr TClockModelRow CLOCK_MODELS[] = {
    {.name = "K201", .commandText = "K201"},
    {.name = "K202", .commandText = "K202"},
    {.name = "K203", .commandText = "K203", .answersVersion = true, .untrustedChecksumRom = "23 Oct 1996\r\n"},
    {.name = "K204", .commandText = "K204"},
    {.name = "K205", .commandText = "K205"},
    {.name = "K206", .commandText = "K205"},  // answers to the K205's commands
};

class CClockModel {
public:
    static constexpr int MODEL_COUNT = static_cast<int>(std::size(CLOCK_MODELS));
    // The first row: what a port command takes when neither the user, the
    // profile nor the clock names a model, as the Comm Port page preselects it.
    static constexpr int DEFAULT_MODEL = 0;

    // The model's row; null for an index outside the table.
    static const TClockModelRow* Row(int index);
    const TClockModelRow* SelectedRow() const { return Row(m_index); }
    // The model a ROM date line in answer to "v" names; -1 when none answers.
    static int VersionAnsweringModel();
    // Every command text the program sends to any model, sorted and unique,
    // the set-time command (it carries a time) left out.
    static std::vector<std::string> AllCommandTexts();

    CClockModel() = default;

    // Appends the model names in table order.
    void GetModelList(std::vector<std::string>& list) const;
    // The selected model's name; false (and empty) for an index outside the list.
    bool GetModelName(std::string& name) const;
    // The index of the first model whose name begins with text, in any case,
    // as a stored "Model" setting picks one; with whole set the name must be
    // all of text. -1 when none matches or text is empty.
    static int FindModel(const std::string& text, bool whole = false);
    // Stores the index as given; callers pass indexes of the model list.
    void SetModel(int index) { m_index = index; }
    int GetModel() const { return m_index; }

    // The command's text, without a line terminator. Unknown commands, and
    // model commands while the index is outside the list, give an empty text.
    void FormatCommand(std::string& text, TClockCommand command) const;
    // The same with the PC's local time given, for SET_UTC_TIME.
    void FormatCommand(std::string& text, TClockCommand command, const std::tm& localNow) const;
    // What trace lines call the command: the same text.
    void GetCommandName(std::string& name, TClockCommand command) const;

    // Writes the command one byte at a time, each byte followed by at least
    // the profile's "CharDelay" pause and checked against the clock's echo;
    // an echo not there after the pause is awaited up to a bound that grows
    // with the link's round trip. On a local line a byte with a missing or
    // wrong echo is tried up to tries times and a byte out of attempts does
    // not stop the command; on a network port the bytes leave at the pause's
    // pace and the first missing or wrong echo ends the command. Done only
    // when every byte was sent once and its echo came back right: a byte that
    // had to be sent again fails the command, since the clock may hold it twice.
    TClockResult WriteCommand(CCommPort& port, TClockCommand command, int tries) const;

private:
    int m_index = 1;
};
