// The sections and keys of the profile, written once. Defaults stay with
// whoever reads a key, since several are texts of the string table.
#pragma once

namespace ProfileKeys {

// Sections.
constexpr char COMMUNICATION[] = "Communication";
constexpr char DEBUG[] = "Debug";
// Where the automatic-open switch is stored at exit (it is read from
// "Communication"): profiles in use carry it there.
constexpr char INTELLIGENCE[] = "Intelligence";

// "Communication": the port and its line settings, as display texts.
constexpr char COMM_PORT[] = "CommPort";
constexpr char BAUD[] = "Baud";
constexpr char DATA_LENGTH[] = "DataLength";
constexpr char PARITY[] = "Parity";
constexpr char STOP_LENGTH[] = "StopLength";
// "Communication": the clock model, switches, the mode string and pauses.
constexpr char MODEL[] = "Model";
constexpr char AUTO_OPEN[] = "AutoOpen";
constexpr char MODE[] = "Mode";
constexpr char READ_TIME_OUT[] = "ReadTimeOut";
constexpr char WRITE_TIME_OUT[] = "WriteTimeOut";
constexpr char CHAR_DELAY[] = "CharDelay";
// The pause after each command byte when the profile sets none.
constexpr int CHAR_DELAY_DEFAULT_MS = 100;
// "Communication": 0 writes to the clock without keeping its setup first.
constexpr char BACKUP[] = "Backup";

// "Debug".
constexpr char VERBOSE[] = "Verbose";
// The file every byte over the line is recorded in; empty for none.
constexpr char TRACE[] = "Trace";

}  // namespace ProfileKeys
