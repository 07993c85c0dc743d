// The application's private profile: an INI file with the semantics of the
// Windows private-profile functions the program was written against.
#pragma once

#include <functional>
#include <string>

// Program name: the executable's file name without directory and extension.
// Set once from argv[0] at start; "tarvel" until then.
void SetProgramName(const std::string& argv0);
const std::string& GetAppName();

// The profile file: $XDG_CONFIG_HOME/<program name>.INI, else ~/.config/<program name>.INI;
// %APPDATA%\<program name>.INI on Windows.
// SetProfilePath overrides it (tests, tools); an empty path restores the default.
std::string GetProfilePath();
void SetProfilePath(const std::string& path);

// Sections and keys are case-insensitive; values are trimmed.
// Integers are read as a leading signed decimal ("abc" reads as 0, out of range
// saturates); a missing key, or an integer key with an empty value, gives the default.
int GetProfileInt(const std::string& section, const std::string& key, int def);
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& def);

// A pause or time-out in ms from section "Communication" ("CharDelay",
// "ReadTimeOut", "WriteTimeOut"), held to 0..MAX_PROFILE_DELAY_MS so an edited
// profile cannot freeze the program for hours. The first time a key is
// clamped in a run the user is told once, through the notice sink, naming it.
constexpr int MAX_PROFILE_DELAY_MS = 5000;
int GetProfileDelayMs(const std::string& key, int def);

// The process-wide profile notice sink: where the profile tells the user of
// a setting it could not use as written (a clamped delay). It is read deep
// inside the port and the command writer, whoever runs them, so it is one
// per process. The default writes a line to standard error; the GUI shows a
// message box, tarvelctl its own line; an empty sink restores the default.
using ProfileNoticeSink = std::function<void(const std::string& text)>;
void SetProfileNoticeSink(ProfileNoticeSink sink);

// Each write re-reads the file, changes one key and replaces the file atomically
// (temporary file + rename) under a lock shared with other running copies.
// Other sections, keys and comment lines are kept. False when the file could not
// be read or written, or when a name or value holds a line break or NUL (or a
// section name holds ']', a key '=' or a leading ';', '#', '[').
bool WriteProfileInt(const std::string& section, const std::string& key, int value);
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value);
