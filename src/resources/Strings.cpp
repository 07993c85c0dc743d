#include "Strings.h"

#include "ControlIds.h"
#include "Resource.h"

// Grouped by where the texts are used; lookups sort a copy by id. The setup
// items' labels, choices and group names are in SetupStrings.cpp.
const TStringEntry g_stringTable[] = {
    // window caption
    {IDS_CAPTION, "Halvern Systems"},

    // console page
    {IDS_CONSOLE_STARTED, "Console started at: %s\r\n"},

    // configuration file and transfer messages
    {IDS_UNKNOWN_FILE_TYPE, "Unknown file type!"},
    {IDS_UNKNOWN_FILE_REVISION,
     "Unknown file revision!  Possible reasons are that this software is out of date with "
     "the software that created this file, or that this file is of the wrong type."},
    {IDS_SETUP_MISMATCH, "Error! Clock returned a setup that didn't match requested setup."},

    // setup input error
    {IDS_RANGE_ERROR, "Input Error!  The valid range is %d to %d."},

    // file command messages
    {IDS_ERROR_OPENING_FILE, "Error Opening File!"},
    {IDS_ERROR_SAVING_FILE, "Error Saving File!"},

    // status line at start-up
    {IDS_START_PROMPT, "Click on \"Open Comm Port\" to start communication with your Halvern Systems Clock."},

    // tooltips, one per control id
    {IDC_COMM_PORT, "Selects the comm port.  Note: you may type in a value."},
    {IDC_BAUD, "Selects the baud rate."},
    {IDC_MODEL, "Selects the Halvern clock model."},
    {IDC_DATA_BITS, "Selects the number of data bits."},
    {IDC_PARITY, "Selects the parity bits."},
    {IDC_STOP_BITS, "Selects the stop bits."},
    {IDC_CONSOLE_INPUT, "Enter a command to send to the serial port.  The output will be displayed above."},
    {IDC_OPEN_PORT, "Opens the selected communication port."},
    {IDC_LOCAL_OFFSET, "Enter your time zone offset from Greenwich Mean Time (GMT)."},
    {IDC_CLOCK_TO_PC, "Set this PC's clock to the Halvern clock's time."},
    {IDC_SETUP_TREE, "Select the setup item, modify it on the right."},
    {IDC_SETUP_VALUE, "Edit the applicable clock setup item."},
    {IDC_SETUP_CHOICE, "Select from the list to modify the selected clock setup item."},
    {IDC_PC_TO_CLOCK, "Set your Halvern clock to this PC's time.  This will help the clock establish a lock "
           "quicker."},
    {IDC_APPLY_OFFSET, "Click this button to change Mirvane's local offset."},
    {IDC_WATCH, "Asks the clock for its time while this page is shown, and shows how far it is from the PC's."},
    {IDC_WATCH_OFFSET, "The clock's time minus the PC's, and how far the truth can lie from it."},
    {IDC_WATCH_PLOT, "The clock's offset from the PC over the last hour; the band is its uncertainty."},

    // menu prompts: status line text, then a short form after the line feed
    {ID_FILE_EXIT, "Exits this fine application\nExit this application."},
    {ID_HELP_CONTENTS, "View online documentation table of contents.\nShow the help contents."},
    {ID_HELP_SEARCH, "Searches the online documentation.\nSearch the help."},
    {ID_FILE_LOAD_COMM, "Get clock config from clock.\nLoad the setup from the clock."},
    {ID_FILE_LOAD_FILE, "Get previously saved clock config.\nLoad the setup from a file."},
    {ID_FILE_SAVE_COMM, "Save clock config to clock.\nSave the setup to the clock."},
    {ID_FILE_SAVE_FILE, "Save clock config to file.\nSave the setup to a file."},
    {ID_HELP_ABOUT, "Displays version information."},
    {ID_HELP_WEB, "Halvern's web site"},
    {ID_FILE_DUMP, "Dumps the clock config to an ascii text file."},

    // line errors reported by the port
    {IDS_BREAK_DETECTED, "Break detected."},
    {IDS_FRAMING_ERROR, "Framing error detected."},
    {IDS_IO_ERROR, "IO error detected."},
    {IDS_MODE_ERROR, "Mode error detected."},
    {IDS_CHAR_OVERRUN, "Character buffer overrun error detected."},
    {IDS_INPUT_OVERRUN, "Input buffer overrun error detected."},
    {IDS_PARITY_ERROR, "Parity error detected."},
    {IDS_OUTPUT_FULL, "Output buffer full error was detected"},

    // line setting choices: baud, data bits, stop bits, parity, flow control
    {IDS_BAUD_1200, "1200"},
    {IDS_BAUD_2400, "2400"},
    {IDS_BAUD_4800, "4800"},
    {IDS_BAUD_9600, "9600"},
    {IDS_BAUD_19200, "19200"},
    {IDS_BAUD_38400, "38400"},
    {IDS_BAUD_115200, "115200"},
    {IDS_DATA_7, "7"},
    {IDS_DATA_8, "8"},
    {IDS_STOP_1, "1"},
    {IDS_STOP_2, "2"},
    {IDS_PARITY_NONE, "No Parity"},
    {IDS_PARITY_ODD, "Odd"},
    {IDS_PARITY_EVEN, "Even"},
    {IDS_FLOW_NONE, "None"},
    {IDS_FLOW_XON_XOFF, "Xon / Xoff"},
    {IDS_FLOW_DATA_READY, "Data Ready"},

    // port status codes
    {IDS_PORT_INVALID, "Invalid comm port state."},
    {IDS_PORT_IDLE, "Comm port is idle."},
    {IDS_PORT_READ, "Read %d bytes."},
    {IDS_PORT_WROTE, "Wrote %d bytes."},
    {IDS_PORT_ERROR, "Comm port err."},
    {IDS_PORT_TIMEOUT, "Comm port time out"},

    // menu command results, countdown, choice fallback, About box
    {IDS_WRITE_FAILED, "Error writing to comm device."},
    {IDS_READ_FAILED, "Error reading from comm port."},
    {IDS_COUNTDOWN, "Countdown %d..."},
    {IDS_SENT_TO_CLOCK, "Sent clock configuration data to clock successfully."},
    {IDS_GOT_FROM_CLOCK, "Got clock configuration data from clock successfully."},
    {IDS_READ_FILE_OK, "Read clock configuration file successfully."},
    {IDS_SAVED_FILE_OK, "Saved clock configuration file successfully."},
    {IDS_UNEXPECTED_VALUE, "Unexpected Value!"},
    {IDS_VERSION, "Mirvane Version %d.%d.%d.%d"},

    // tarvel's own: writes that were cancelled, the stages a countdown waits
    // for, transfers under way
    {IDS_WRITE_CANCELLED_UNVERIFIED, "Write cancelled: the setup was sent but not verified, stored or the clock reset."},
    {IDS_WRITE_CANCELLED_UNSTORED, "Write cancelled: the setup was sent and verified, but not stored; no reset."},
    {IDS_WRITE_CANCELLED_NO_RESET, "Write cancelled: the setup was stored, but the clock was not reset."},
    {IDS_STAGE_TAKING, "Waiting for the clock to take the setup."},
    {IDS_STAGE_BEFORE_STORE, "Waiting before storing the setup in the clock's EEPROM."},
    {IDS_STAGE_BEFORE_RESET, "Waiting before resetting the clock."},
    {IDS_READING_FROM_CLOCK, "Reading the setup from the clock..."},
    {IDS_WRITING_TO_CLOCK, "Writing the setup to the clock..."},

    // the window's own: the port's state line, the Location page's and the
    // dump's results, the device gone, the manual
    {IDS_PORT_STATE_OPEN, "Open: %s %s %s"},
    {IDS_PORT_STATE_CLOSED, "Closed"},
    {IDS_PORT_STATE_FAILED, "Not open: %s Then press \"Open Comm Port\" again."},
    {IDS_PORT_DEVICE_GONE, "The port's device has gone (unplugged or switched off). Plug it in again and press \"Open Comm Port\" on the Comm Port page."},
    {IDS_SETTING_CLOCK_TIME, "Sending the PC's time to the clock..."},
    {IDS_CLOCK_TIME_SET, "The clock's time was set from the PC."},
    {IDS_CLOCK_REFUSED_TIME, "The clock refused the time: it answered '?' to the set-time command."},
    {IDS_CLOCK_DID_NOT_TAKE_TIME, "The clock did not take the time: it did not echo the set-time command."},
    {IDS_ASKING_CLOCK_TIME, "Asking the clock for its time..."},
    {IDS_PC_TIME_SET, "The PC clock was set from the clock's time."},
    {IDS_CLOCK_REFUSED_TIME_REQUEST, "The clock refused the time request: it answered '?'."},
    {IDS_CLOCK_NO_TIME_ECHO, "The clock did not answer the time request: no echo of the command."},
    {IDS_CLOCK_TIME_UNREADABLE, "The clock's answer to the time request was not a time: the PC clock was not set."},
    {IDS_DUMPED_FILE_OK, "Dumped the clock configuration to the text file."},
    {IDS_MANUAL_NO_VIEWER, "The manual is at %s, but no program was found to show it. Open that file in a web browser."},
    {IDS_MANUAL_MISSING, "The manual was not found. It belongs at %s; reinstall tarvel to put it there."},
    {IDS_PORT_STATE_GONE, "Closed: %s was unplugged. Plug it in and press \"Open Comm Port\"."},
    {IDS_PORT_STATE_LOST, "Closed: the connection to %s was lost. Press \"Open Comm Port\" to connect again."},
    {IDS_MANUAL_OPEN_BROWSER, "Open in &Browser"},
    {IDS_MANUAL_NOT_INSTALLED, "The manual is not installed as a file: only this built-in copy can be shown."},
    // the Location page's watch of the clock's time
    {IDS_WATCH, "&Watch"},
    {IDS_WATCH_CLOCK_TIME, "Clock Time"},
    {IDS_WATCH_OFFSET, "Offset from PC"},
    {IDS_WATCH_OFFSET_VALUE, "%+.3f s +- %.3f s"},
    {IDS_WATCH_TIME_FORMAT, "%Y-%m-%d %H:%M:%S UTC"},
    {IDS_WATCH_POLL_FAILED, "The watch got no time from the clock (asked again in %d s):"},
    {IDS_WATCH_AXIS_OFFSET, "%.3f s"},
    {IDS_WATCH_AXIS_TIME, "PC time"},

    // tarvelctl: refusals by the clock, values and files named, a port whose
    // device has gone
    {IDS_CTL_NOT_A_CHOICE, "item %d: '%s' is not one of %s nor a number from %d to %d"},
    {IDS_CTL_TIME_REFUSED, "time %s: the clock refused the command (it answered '?')"},
    {IDS_CTL_READ_NEEDS_OUTPUT, "read needs -o FILE: the setup file the clock's setup is written to"},
    {IDS_CTL_DEVICE_GONE, "the port's device has gone (%s); run the command again once it is back"},
    {IDS_CTL_FILE_REASON, "%s: %s"},

    // safe files and profile settings: the user's files are never followed
    // through another user's link, nor blocked on by a pipe; profile values
    // that were refused or limited
    {IDS_FILE_NOT_REGULAR, "not a regular file"},
    {IDS_FILE_LINK_REFUSED, "a symbolic link in a shared folder that another user owns is not followed"},
    {IDS_FILE_BUSY, "another program is changing this file; try again when it has finished"},
    {IDS_PROFILE_DELAY_CLAMPED, "The profile's setting %s=%d is outside 0 to %d ms; %d ms is used."},
    {IDS_PROFILE_SETTING_REFUSED, "The profile's setting %s=%s in [Communication] was refused; it must be one of %s."},

    // the port list: a COM port without its device, what a port is when it
    // tells nothing of itself, the serial number after its name
    {IDS_PORT_ABSENT, "%s (absent)"},
    {IDS_PORT_WITH_SERIAL, "%s, serial %s"},
    {IDS_PORT_PLAIN, "serial port"},
    {IDS_PORT_RFCOMM, "Bluetooth RFCOMM"},
    {IDS_PORT_STABLE_TIP, "Stored as %s, which finds this adapter in any USB socket."},
    // who holds a busy port; what to do about the programs that take serial
    // devices on their own
    {IDS_PORT_IN_USE, "The port is in use by another program."},
    {IDS_PORT_IN_USE_BY, "The port is in use by %s."},
    {IDS_PORT_HOLDER, "%s (pid %d)"},
    {IDS_PORT_HOLDER_MODEMMANAGER, "ModemManager probes serial devices for modems: run sudo systemctl disable --now ModemManager, or keep it off this device with a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\" (see README)."},
    {IDS_PORT_HOLDER_BRLTTY, "brltty takes some USB serial adapters for braille displays: run sudo systemctl mask brltty-udev.service, or remove it (sudo apt remove brltty) where no braille display is used."},
    {IDS_PORT_TAKEN_BY_BRLTTY, "The device is gone while brltty (pid %d) runs: brltty may have taken the USB serial adapter."},
    // network serial ports (58500-58549): what a raw TCP or RFC 2217 port
    // cannot do, and what to do when the connection fails or is lost
    {IDS_NET_RAW_NOTICE, "%s is a raw TCP connection: it cannot send a break, and the line settings are those set on the terminal server."},
    {IDS_NET_NO_COM_PORT, "%s does not take line settings (the server refused RFC 2217 Com Port Control): the terminal server's own settings apply, and no break can be sent."},
    {IDS_NET_HINT_REFUSED, "Nothing accepts connections on port %s of %s. Is the terminal server on, and is the port number right?"},
    {IDS_NET_HINT_UNKNOWN_HOST, "The host \"%s\" was not found. Check its name, or use its IP address."},
    {IDS_NET_HINT_NO_NAME_SERVER, "The name server did not answer for \"%s\". Check the network connection and try again."},
    {IDS_NET_HINT_UNREACHABLE, "%s did not answer on port %s. Is it switched on and reachable on the network?"},
    {IDS_NET_HINT_CLOSED, "%s closed the connection on port %s. Is another program or user connected to that port?"},
    {IDS_NET_HINT_NOT_RFC2217, "Port %s of %s did not answer as an RFC 2217 (Telnet) server. For a raw TCP port use the name tcp://HOST:PORT."},
    {IDS_NET_HINT_BAD_NAME, "A network port is named rfc2217://HOST:PORT or tcp://HOST:PORT (an IPv6 address in brackets: tcp://[::1]:4001)."},
    {IDS_NET_HINT_BUSY, "This program has the port open already."},
    {IDS_NET_CONNECTION_LOST, "The connection to %s has gone (the terminal server closed it or the network failed). Press \"Open Comm Port\" on the Comm Port page to connect again."},
    {IDS_NET_TURNED_AWAY, "the terminal server turned the connection away: %s (is another program connected to that port?)"},
    {IDS_NET_TURNED_AWAY_SILENT, "the terminal server turned the connection away without a word (is another program connected to that port?)"},

    // clocks over the network from tarvelctl (58550-58599): a connection that
    // went away mid-command, named like an unplugged device
    {IDS_CTL_CONNECTION_GONE, "the connection to %s has gone (%s); run the command again once the terminal server is back"},

    // setup comparison and the setup text form (58600-58649): why a line of
    // a setup text was refused, and the section headings it is written with
    {IDS_TEXT_VALUE_REFUSED, "item %d: \"%s\" is not taken; the item takes %s"},
    {IDS_TEXT_RAW_DOES_NOT_FIT, "item %d: \"%s\" does not fit the item's field"},
    {IDS_TEXT_NOT_A_LINE, "not an ITEM = VALUE line"},
    {IDS_TEXT_UNKNOWN_ITEM, "there is no setup item \"%s\""},
    {IDS_TEXT_GIVEN_TWICE, "%s is given twice (first on line %d)"},
    {IDS_TEXT_BITS_HELD, "byte %d: bits 0x%02X belong to setup items; give them on the items' lines"},
    {IDS_TEXT_ITEM_MISSING, "item %d (%s) is missing: every item needs its line"},
    {IDS_TEXT_TOO_LARGE, "the text is too large to be a setup text"},
    {IDS_TEXT_OTHER_ITEMS, "Items the setup tree does not show"},
    {IDS_TEXT_OTHER_BITS, "Record bits no item holds"},
    {IDS_TEXT_CHOICES, "one of %s"},
    {IDS_TEXT_RANGE, "a whole number from %d to %d"},
    {IDS_TEXT_ITEM_N, "Item %d"},
    {IDS_TEXT_NO_VALUE, "(no value, raw %lld)"},
    {ID_FILE_COMPARE, "Lists the setup items that differ between a setup file and the setup shown."},
    {IDS_COMPARE_CAPTION, "Compare with %s"},
    {IDS_COMPARE_ITEM, "Item"},
    {IDS_COMPARE_LABEL, "Label"},
    {IDS_COMPARE_SHOWN, "Shown"},
    {IDS_COMPARE_FILE, "In the file"},
    {IDS_COMPARE_SAME, "The setup shown and the file are the same."},
    {IDS_COMPARE_COUNT, "%d setup items differ between the setup shown and the file."},
    {IDS_SETUP_ITEM_CHANGED, "Changed since the setup was loaded or saved; it was %s."},
    {IDS_COMPARE_COUNT_ONE, "1 setup item differs between the setup shown and the file."},
    // backups before writing and the line trace (58650-58699)
    {IDS_TRACE_CUT, "trace cut here: it reached its size limit, later bytes are not recorded"},
    {IDS_SENT_WITH_BACKUP, "Sent clock configuration data to clock successfully. Backup: %s"},
    {IDS_CLOCK_HOLDS_SETUP, "The clock already holds this setup: nothing was sent."},
    {IDS_BACKUP_READ_FAILED, "Reading the clock's setup for a backup failed: nothing was sent."},
    {IDS_BACKUP_SAVE_FAILED, "The clock's setup could not be backed up (%s): nothing was sent."},
    {IDS_READING_FOR_BACKUP, "Reading the clock's setup for a backup..."},
    {IDS_BACKUP_NO_FOLDER, "no backups folder: neither XDG_DATA_HOME nor HOME names one"},
    {IDS_BACKUP_FOLDER_NOT_OURS, "the backups folder %s is not a folder of this user's"},
    {IDS_TRACE_OPEN_FAILED, "cannot write the trace to %s: %s"},
    {IDS_BACKUP_KEPT, "Backup: %s"},
    {IDS_BACKUPS_UNREADABLE, "cannot read the backups folder %s"},
    {IDS_RESTORE_SKIPPED, "restoring %s: the %u newer backup(s) hold the setup the clock has now"},
    {IDS_RESTORE_NOTHING, "every backup of port %s holds the setup the clock has now: nothing to restore"},
    // finding the clock, command-line conventions (58700-58749)
    {IDS_FIND_CLOCK, "&Find Clock"},
    {IDS_FIND_CLOCK_PROGRESS, "Looking for the clock: %s at %u baud..."},
    {IDS_FIND_CLOCK_FOUND, "Found a clock on %s at %s baud."},
    {IDS_FIND_CLOCK_FOUND_MODEL, "Found a %s on %s at %s baud."},
    {IDS_FIND_CLOCK_NONE, "No clock answered on any port at any rate. Is the clock switched on and its cable plugged in?"},
    {IDS_FIND_CLOCK_CANCEL, "Cancel"},
    {IDS_FIND_CLOCK_TITLE, "Find Clock"},
    {IDS_CTL_PROBE_NONE, "no clock answered on %s"},
    {IDS_CTL_PROBE_NO_PORTS, "no port to try: none is present; give --port DEV"},
    {IDS_CTL_UNKNOWN_COMMAND, "unknown command '%s'"},
    {IDS_CTL_DID_YOU_MEAN, "unknown command '%s'; did you mean '%s'?"},
    {IDS_CTL_ONE_PORT_ONLY, "%s takes one --port"},
    {IDC_FIND_CLOCK, "Looks for the clock on every port at every baud rate and, where it answers, fills in its port and baud rate."},
    // tarvelctl's ports, trace and write steps
    {IDS_CTL_PORT_TWICE, "--port %s is given twice"},
    {IDS_CTL_SAME_DEVICE, "--port %s and --port %s are the same device"},
    {IDS_CTL_TRACE_IS_USED, "--trace %s would empty %s, which this command reads or writes: nothing was done"},
    {IDS_CTL_STAGE_SENDING, "Sending the setup to the clock..."},
    {IDS_CTL_STAGE_VERIFYING, "Reading the setup back from the clock to verify it..."},
    {IDS_CTL_STAGE_STORING, "Storing the setup in the clock's EEPROM..."},
    {IDS_CTL_STAGE_RESETTING, "Resetting the clock..."},
    {IDS_CTL_WRITE_DONE, "The setup was written, verified and stored, and the clock reset."},
    {IDS_WRITE_CANCELLED_NOTHING_SENT, "Write cancelled: nothing was sent."},
    {IDS_CTL_STOPPED_BY, "%s came: the write ended after the step it was in."},
    // tarvelctl check
    {IDS_CTL_CHECK_HELD, "port %s is held by another program"},
    {IDS_CTL_CHECK_HELD_BY, "port %s is held by %s"},
    {IDS_CTL_CHECK_SILENT, "the clock on %s does not answer: %s"},
    {IDS_CTL_CHECK_SETUP_DIFFERS, "the setup on %s differs from %s in %d item(s): %s"},
    {IDS_CTL_CHECK_SETUP_UNUSABLE, "the setup file %s cannot be used (standard error says why)"},
    // tarvelctl time watch
    {IDS_CTL_TIME_WATCH_LINE, "%s  offset %+.3f s +- %.3f s  (polls: %d)"},
    {IDS_CTL_TIME_WATCH_STOPPED, "%s came before the clock told its time."},
    // tarvelctl metrics
    {IDS_CTL_METRICS_LINE_FIELDS, "give a port, then at most one setup file, site=NAME and asset=NAME"},
    {IDS_CTL_METRICS_PORT_AGAIN, "port %s is already on line %d"},
    {IDS_CTL_METRICS_SETUP_UNUSABLE, "its setup file cannot be used"},
    {IDS_CTL_METRICS_NO_CLOCKS, "no clock to look at: give --port DEV or --config FILE"},
    {IDS_CTL_METRICS_SETUP_COUNT, "give --setup once for every port, or once for each --port"},
    {IDS_CTL_METRICS_SAME_CLOCK, "%s is the clock %s again: left out"},
    // why an exchange with the clock failed (58800-58849)
    {IDS_WHY_PORT, "the port failed: %s"},
    {IDS_WHY_NO_COMMAND, "the command %s has no text for this clock model"},
    {IDS_WHY_NO_ECHO, "no echo of byte %d (%s) of the command %s within %u ms"},
    {IDS_WHY_WRONG_ECHO, "wrong echo of byte %d of the command %s: sent %s, the clock answered %s"},
    {IDS_WHY_REFUSED, "the clock answered '?' to the command %s"},
    {IDS_WHY_SHORT_ANSWER, "the clock's answer to %s was cut short: %u of 377 characters within %u ms"},
    {IDS_WHY_BAD_HEADER, "the clock's answer to %s does not begin with the first record"},
    {IDS_WHY_BAD_RECORD, "record %d of the clock's answer is malformed"},
    {IDS_WHY_BAD_CHECKSUM, "record %d of the clock's answer fails its checksum"},
    {IDS_WHY_MISMATCH, "the clock returned a setup that differs from the one sent"},
    {IDS_WHY_NO_REPLY, "no answer to the command %s within %u ms"},
    {IDS_WHY_LONG_ANSWER, "the clock's answer to %s is longer than any setup: %u characters"},
    {IDS_WHY_SENT_AGAIN, "; byte %d was sent again, so the clock may hold it twice"},
    {IDS_WHY_MAY_HOLD_NEW, "; the clock may already hold the new setup in its EEPROM"},
    {IDS_WHY_STORED_NOT_RESET, "; the new setup is stored in the clock's EEPROM, but the clock was not reset"},
    {IDS_WHY_PORT_UNKNOWN, "no reason given"},
    {IDS_WHY_NO_RECORDS, "the setup could not be put into hex records"},
    {IDS_WHY_NOT_A_TIME, "the reply to %s is not a time of day: \"%s\""},
    // names of the pages' controls: a screen reader's for those without a
    // label, the labels of the setup item editors (58850-58869)
    {IDS_NAME_SETUP_TREE, "Setup items"},
    {IDS_NAME_SETUP_VALUE, "Value"},
    {IDS_NAME_SETUP_CHOICE, "Choices"},
    {IDS_NAME_CONSOLE_OUTPUT, "Clock output"},
    {IDS_NAME_CONSOLE_INPUT, "Line to send"},
    {IDS_NAME_WATCH_PLOT, "Offset over the last hour"},
    // the manual built into the program (58750-58799): its window
    {IDS_MANUAL_WINDOW_TITLE, "tarvel Manual"},
    // the Location page's watch: old values, stopped (58148-58149)
    {IDS_WATCH_AS_OF, "%s (as of %s)"},
    {IDS_WATCH_STOPPED, "Not watching: the port is closed. The watch goes on once a port is open again."},
    // the Console page's input: what to type there, shown while it is empty (58856)
    {IDS_HINT_CONSOLE_INPUT, "Type a command for the clock and press Enter"},
};
const std::size_t g_stringTableSize = sizeof(g_stringTable) / sizeof(g_stringTable[0]);
