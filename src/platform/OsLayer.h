// What differs between the systems the core runs on, besides files (see
// SafeFile.h): folders, path text, standard streams, the calendar and the
// process. POSIX in posix/, Win32 in win/; CMake builds one of the two.
// Paths are UTF-8 text everywhere else in the program.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

// A path from its UTF-8 text and back. On Windows through the wide API, so a
// name outside the ANSI code page survives; on POSIX the bytes as they are.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

// folder and name joined with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// The user's folder for settings: $XDG_CONFIG_HOME when absolute, else
// ~/.config; %APPDATA% on Windows.
std::string UserConfigFolder();
// The user's folder for data: $XDG_DATA_HOME when absolute, else
// ~/.local/share when $HOME is absolute; %LOCALAPPDATA% on Windows. Empty
// when the environment names none.
std::string UserDataFolder();

// Standard input and output carry bytes unchanged. Windows opens them in
// text mode, which writes 0x0A as 0x0D 0x0A and ends a read at 0x1A.
void SetBinaryStandardStreams();

// The calendar: t as UTC and as local time (false when the system cannot
// express it), and the time of a UTC date (-1 when it cannot).
bool UtcCalendar(std::time_t t, std::tm& out);
bool LocalCalendar(std::time_t t, std::tm& out);
std::time_t TimeOfUtc(std::tm& utc);

// This process's number, for names no other running copy picks.
unsigned long ProcessId();
